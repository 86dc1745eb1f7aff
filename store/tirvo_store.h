// Fingerprint file writer: the last stage of a compile.
//
// The file is a gzip stream (level 9) of records in the vabo encoding, in
// this order: one header record, one record per variable (in the order of
// the variable registry), one per situation (ascending as signed values), one
// per byte-code program (ascending id), and for every regex entry its DFA
// record followed by one record per DFA state (ascending state id). The
// loader (store/tirvo_load.h) reads exactly this.
//
// Each record is encoded into one fixed buffer and handed to the compressor
// before the next one is encoded, so the writer's memory does not grow with
// the size of the DFAs. The buffer holds the largest record the loader
// accepts (TIRVO_FP_MAX_RECORD_BODY after the record's kind and length):
// a state that runs thousands of expressions still fits, and a record the
// loader could not read is refused here instead of being written.
//
// Next-state vectors hold one entry per input symbol, each the target state
// id in the fewest bytes that hold the largest id of the DFA (none for a DFA
// of one state).
#ifndef TIRVO_STORE_TIRVO_STORE_H
#define TIRVO_STORE_TIRVO_STORE_H

struct tirvo_compile_ctx;

// Writes the fingerprint file named by `ctx->dfa_file_name` ("-": the
// standard output) from everything the earlier stages built, and adds the
// uncompressed size of every state record to `ctx->state_record_bytes`. On
// failure prints its message and sets `ctx->error` to 5; a partly written
// file stays on disk. Aborts when zlib refuses the compression parameters.
void tirvo_store_fingerprint(tirvo_compile_ctx *ctx);

#endif
