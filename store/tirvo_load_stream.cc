#include "store/tirvo_load_stream.h"

#include "engine/tirvo_eng_settings.h"
#include "store/tirvo_alloc.h"
#include "store/tirvo_load.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// The first bytes of a file in the old DFA format; the record search also
// looks for the zero byte that follows them there.
constexpr uint8_t old_magic[5] = {'Z', 'k', 'v', 'M', 0};

// zlib's memory goes through the decompressor's allocation hook.
voidpf inflate_alloc(voidpf, uInt items, uInt size) {
    if (size != 0 && items > SIZE_MAX / size)
        return Z_NULL;
    return tirvo_obtain(tirvo_alloc_kind_inflate, size_t{items} * size);
}

void inflate_free(voidpf, voidpf block) {
    tirvo_release(tirvo_alloc_kind_inflate, block);
}

// Reads the next chunk into the input buffer (which is empty).
int read_chunk(tirvo_load_stream *s) {
    const size_t got = std::fread(s->chunk, 1, TIRVO_LOAD_CHUNK_SIZE, s->file);
    if (got == 0) {
        if (!std::ferror(s->file))
            return tirvo_load_error_eof;
        tirvo_load_message("file read error: %s\n", std::strerror(errno));
        return tirvo_load_error_read;
    }
    s->z.next_in = s->chunk;
    s->z.avail_in = static_cast<uInt>(got);
    return 0;
}

// Moves input bytes into the free end of the window: inflates them, or for
// the old format copies them unchanged.
int decompress_some(tirvo_load_stream *s) {
    const size_t room = TIRVO_LOAD_WINDOW_SIZE - s->write_pos;
    if (s->old_format) {
        const size_t n = room < s->z.avail_in ? room : s->z.avail_in;
        std::memcpy(s->window + s->write_pos, s->z.next_in, n);
        s->z.next_in += n;
        s->z.avail_in -= static_cast<uInt>(n);
        s->write_pos += n;
        return 0;
    }
    s->z.next_out = s->window + s->write_pos;
    s->z.avail_out = static_cast<uInt>(room);
    const int result = inflate(&s->z, Z_SYNC_FLUSH);
    s->write_pos = static_cast<size_t>(s->z.next_out - s->window);
    switch (result) {
    case Z_OK:
        return 0;
    case Z_STREAM_END:
        s->stream_end = true;
        return 0;
    case Z_MEM_ERROR:
        tirvo_load_message("zlib memory allocation error\n");
        return tirvo_load_error_memory;
    default:
        tirvo_load_message("zlib inflate error code: %d\n", result);
        return tirvo_load_error_inflate;
    }
}

} // namespace

void tirvo_load_message(const char *fmt, ...) {
    FILE *f = tirvo_eng_settings.error_stream;
    if (!f)
        return;
    va_list args;
    va_start(args, fmt);
    std::vfprintf(f, fmt, args);
    va_end(args);
}

int tirvo_load_stream_open(tirvo_load_stream *s, FILE *file, const char *file_name) {
    std::memset(s, 0, sizeof *s);
    s->file = file;
    s->file_name = file_name;

    uint8_t magic[4];
    errno = 0;
    if (std::fread(magic, 1, sizeof magic, file) != sizeof magic) {
        const int err = errno;
        tirvo_load_message("Could not read file %s: %s (%d)\n", file_name, std::strerror(err), err);
        return tirvo_load_error_read;
    }
    if (std::fseek(file, -4, SEEK_CUR) != 0) {
        const int err = errno;
        tirvo_load_message("fseek failed: %s (%d)\n", std::strerror(err), err);
        return tirvo_load_error_internal;
    }
    s->old_format = std::memcmp(magic, old_magic, sizeof magic) == 0;

    s->block = static_cast<uint8_t *>(
        tirvo_obtain(tirvo_alloc_kind_inflate,
                     TIRVO_LOAD_CHUNK_SIZE + TIRVO_LOAD_WINDOW_SIZE + TIRVO_LOAD_SCRATCH_SIZE));
    if (!s->block)
        return tirvo_load_error_memory;
    s->chunk = s->block;
    s->window = s->chunk + TIRVO_LOAD_CHUNK_SIZE;
    s->scratch = s->window + TIRVO_LOAD_WINDOW_SIZE;
    if (s->old_format)
        return 0;

    s->z.zalloc = inflate_alloc;
    s->z.zfree = inflate_free;
    s->z.opaque = Z_NULL;
    s->z.next_in = Z_NULL;
    s->z.avail_in = 0;
    // 15 + 32: a window of 2^15 bytes and automatic gzip or zlib header.
    if (inflateInit2(&s->z, 15 + 32) != Z_OK)
        return tirvo_load_error_memory;
    s->inflating = true;
    return 0;
}

void tirvo_load_stream_close(tirvo_load_stream *s) {
    if (s->inflating) {
        inflateEnd(&s->z);
        s->inflating = false;
    }
    tirvo_release(tirvo_alloc_kind_inflate, s->block);
    s->block = s->chunk = s->window = s->scratch = nullptr;
}

int tirvo_load_stream_fill(tirvo_load_stream *s, size_t n) {
    size_t available = s->write_pos - s->read_pos;
    if (available >= n)
        return 0;
    if (available + (TIRVO_LOAD_WINDOW_SIZE - s->write_pos) < n) {
        std::memmove(s->window, s->window + s->read_pos, available);
        s->read_pos = 0;
        s->write_pos = available;
        if (TIRVO_LOAD_WINDOW_SIZE < n)
            return tirvo_load_error_internal;
    }
    while (s->write_pos - s->read_pos < n) {
        // After the end of the compressed stream no more bytes can come.
        if (s->stream_end)
            return tirvo_load_error_eof;
        if (s->z.avail_in == 0)
            if (int err = read_chunk(s))
                return err;
        if (int err = decompress_some(s))
            return err;
    }
    return 0;
}

int tirvo_load_find_record(tirvo_load_stream *s, uint8_t kind, vabo_iter *fields) {
    for (;;) {
        if (int err = tirvo_load_stream_fill(s, VABO_RECORD_HEADER_SIZE))
            return err;
        const uint8_t *head = s->window + s->read_pos;
        if (std::memcmp(head, old_magic, sizeof old_magic) == 0) {
            s->read_pos += sizeof old_magic;
            return tirvo_load_error_old_format;
        }
        uint8_t found;
        uint32_t length;
        if (vabo_decode_record_header(head, VABO_RECORD_HEADER_SIZE, &found, &length) != 0)
            return tirvo_load_error_record_header;
        s->read_pos += VABO_RECORD_HEADER_SIZE;
        const size_t body = length - VABO_RECORD_HEADER_SIZE;
        if (body > TIRVO_LOAD_WINDOW_SIZE)
            return tirvo_load_error_record_buffer;
        if (int err = tirvo_load_stream_fill(s, body))
            return err;
        if (found == kind)
            vabo_iter_init(fields, s->window + s->read_pos, body);
        s->read_pos += body;
        if (found == kind)
            return 0;
    }
}
