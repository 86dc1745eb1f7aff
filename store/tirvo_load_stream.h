// The loader's input stream: the file, decompressed into a window, cut into
// records.
//
// The file is read in chunks of TIRVO_LOAD_CHUNK_SIZE bytes and inflated
// (zlib, automatic gzip or zlib header, synchronous flush) into a window of
// TIRVO_LOAD_WINDOW_SIZE bytes; a record must fit into the window as a whole,
// so a record's fields can be decoded in place. When the window runs short at
// its end, the bytes not yet consumed move to its start. A file that starts
// with the magic of the old DFA format is not compressed: its bytes are
// copied into the window unchanged, and the record search refuses it when it
// meets the magic where a record header should be.
//
// Record search finds the next record of a given kind, skipping records of
// other kinds, and hands out a field cursor over the record's fields. The
// cursor points into the window and stays valid until the next search.
//
// The windows, the zlib state and the scratch for checking byte code come
// from the allocation hook of the decompressor's memory. Every failure is one
// of the load error codes; messages go to the engine's error stream.
#ifndef TIRVO_STORE_TIRVO_LOAD_STREAM_H
#define TIRVO_STORE_TIRVO_LOAD_STREAM_H

#include "lib/vabo/public/vabo.h"
#include "store/tirvo_load.h"

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Bytes read from the file at a time.
constexpr size_t TIRVO_LOAD_CHUNK_SIZE = 4096;
// Bytes of the decompressed window; the largest record fits exactly.
constexpr size_t TIRVO_LOAD_WINDOW_SIZE = TIRVO_FP_MAX_RECORD_BODY;
// Bytes of the scratch for checking a program: one per code byte and one
// more; a program's code always fits into one record.
constexpr size_t TIRVO_LOAD_SCRATCH_SIZE = TIRVO_LOAD_WINDOW_SIZE + 1;

// The stream of one load. Set up by tirvo_load_stream_open, torn down by
// tirvo_load_stream_close.
struct tirvo_load_stream {
    FILE *file;            // the file, the caller's
    const char *file_name; // its name for messages
    bool old_format;       // the file starts with the old DFA format's magic
    bool inflating;        // `z` is set up
    bool stream_end;       // inflate has reached the end of the compressed stream
    z_stream z;            // decompressor; next_in/avail_in also track the chunk when copying
    uint8_t *block;        // one block holding chunk, window and scratch
    uint8_t *chunk;        // the last chunk read from the file
    uint8_t *window;       // decompressed bytes
    uint8_t *scratch;      // TIRVO_LOAD_SCRATCH_SIZE bytes for the loader's checks
    size_t read_pos;       // first byte of the window not yet consumed
    size_t write_pos;      // one past the last decompressed byte
};

// Prints `fmt` with its arguments to the engine's error stream, when one is
// set.
void tirvo_load_message(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Sets `stream` up over the open `file` named `file_name`: reads the first 4
// bytes to tell the old DFA format from a compressed file, moves the file
// back by 4 bytes, obtains the buffers and, for a compressed file, sets up
// inflate. Returns 0; 5 when the 4 bytes cannot be read ("Could not read
// file %s: %s (%d)\n"), 9 when the file cannot be moved back ("fseek failed:
// %s (%d)\n"), 8 when buffers or the decompressor cannot be had. Call
// tirvo_load_stream_close afterwards in every case.
int tirvo_load_stream_open(tirvo_load_stream *stream, FILE *file, const char *file_name);

// Ends the decompressor when it is set up and releases the buffers. May be
// called more than once.
void tirvo_load_stream_close(tirvo_load_stream *stream);

// Makes `n` bytes available at the read position, reading and decompressing
// as needed. Returns 0; 9 when `n` exceeds the window; 4 at the end of the
// file or of the compressed stream; 5 on a read error ("file read error:
// %s\n"); 8 when inflate runs out of memory ("zlib memory allocation
// error\n"); 7 for any other inflate error ("zlib inflate error code: %d\n").
int tirvo_load_stream_fill(tirvo_load_stream *stream, size_t n);

// Finds the next record of kind `kind`, consuming it and every record before
// it, and sets `fields` up over its fields. Returns 0; 14 when the old DFA
// format's magic "ZkvM" and a zero byte stand where a record header should
// be; 3 for a record length below 5; 2 for a record that does not fit into
// the window; the errors of tirvo_load_stream_fill.
int tirvo_load_find_record(tirvo_load_stream *stream, uint8_t kind, vabo_iter *fields);

#endif
