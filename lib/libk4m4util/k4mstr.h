// Segmented strings: a byte string kept as a chain of fixed-size segments.
//
// A string grows by appending; once stored, bytes never move, because a full
// segment is followed by a new one instead of being reallocated. The fingerprint
// file loader uses a string as a growable buffer while it decodes DFA tables
// and hands all segments back when it clears the buffer.
//
// A string does not allocate on its own: its kind (`k4mstr_ops`, shared by
// many strings) supplies the allocation function, the release function that
// every allocated segment carries, an optional callback after a clear, the
// largest length and the data size of new segments. A segment the string
// allocates is one block: the `k4mstr_seg` header with the data right behind
// it. A caller may also hand a string its own first segment (for example an
// empty one of capacity 0, or one over a buffer of its own), with its own
// release function or none.
//
// Appending stops at the kind's `max_len` (the `_unlimited` variants ignore
// it) or when the allocation function fails; the result says how many bytes
// were stored. Removing bytes from the end drops segments that became empty.
// The text helpers remove a trailing character or line end and mark a text
// that reached its limit with "...".
#ifndef TIRVO_LIB_LIBK4M4UTIL_K4MSTR_H
#define TIRVO_LIB_LIBK4M4UTIL_K4MSTR_H

#include <cstddef>
#include <cstdint>

struct k4mstr;
struct k4mstr_seg;

// Gives back a segment that leaves its string; gets the segment (for an
// allocated one, the address of its block) and the kind's user data.
using k4mstr_release_fn = void (*)(k4mstr_seg *seg, void *user);

// Obtains `bytes` bytes (sizeof(k4mstr_seg) + the kind's `seg_size`) of
// storage for a new segment, suitably aligned for a `k4mstr_seg`, or returns
// null when there is none.
using k4mstr_alloc_fn = void *(*)(size_t bytes, void *user);

// Called with the string and the kind's user data after a clear.
using k4mstr_clear_fn = void (*)(k4mstr *string, void *user);

// One segment of a string.
struct k4mstr_seg {
    k4mstr_seg *next_seg;      // next segment of the chain, or null
    uint8_t *data;             // the segment's bytes
    k4mstr_release_fn release; // called when the segment leaves its string, or null
    uint16_t capacity;         // bytes the segment can hold
    uint16_t used;             // bytes in use
};

// The kind of a string; shared by many strings and not changed by them.
struct k4mstr_ops {
    k4mstr_alloc_fn alloc_seg;     // storage for a new segment (header and data);
                                   // null: strings never grow past their own segment
    k4mstr_release_fn release_seg; // stored into every segment the string allocates
    k4mstr_clear_fn on_clear;      // called after k4mstr_clear, or null
    size_t max_len;                // largest length in bytes; appending stops there
    size_t seg_size;               // data bytes of each new segment, 1 to 65535
    void *user;                    // passed to the three functions
};

// A segmented string.
struct k4mstr {
    const k4mstr_ops *ops; // its kind
    size_t len;            // total bytes: the sum of `used` over the chain
    k4mstr_seg *first_seg; // first segment, or null
    k4mstr_seg *last;      // last segment of the chain (the one appended to), or null
};

// `max_len` of the unlimited appends: no limit.
constexpr size_t K4MSTR_UNLIMITED = SIZE_MAX;

// The loader's kind: data bytes per segment and largest length.
constexpr size_t K4MSTR_LOADER_SEG_SIZE = 4092;
constexpr size_t K4MSTR_LOADER_MAX_LEN = 0x7FFFFFFF;

// Sets up `seg` over `capacity` bytes at `data`, of which the first `used`
// are in use, with no successor and the release function `release` (or
// null). Asserts used <= capacity.
void k4mstr_seg_init(k4mstr_seg *seg, uint8_t *data, uint16_t capacity, uint16_t used,
                     k4mstr_release_fn release);

// Fills `ops` with the loader's kind: segments of K4MSTR_LOADER_SEG_SIZE data
// bytes obtained from `alloc` and given back through `release` (both get
// `user`), length up to K4MSTR_LOADER_MAX_LEN, no clear callback.
void k4mstr_ops_init_loader(k4mstr_ops *ops, k4mstr_alloc_fn alloc, k4mstr_release_fn release,
                            void *user);

// Sets up `string` of kind `ops` (not null; must outlive the string). With
// `initial_segment` (which must have no successor: asserted), that segment is
// the first and last one and the length is its `used`; without, the string
// is empty and has no segment. The string owns the segment from then on: it
// hands it to its release function when it drops it.
void k4mstr_init(k4mstr *string, const k4mstr_ops *ops, k4mstr_seg *initial_segment);

// Appends `n` bytes from `bytes`, filling the last segment and then new
// segments of the kind's `seg_size`. Returns the number of bytes appended,
// which is less than `n` when the length reached the kind's `max_len` or the
// allocation function returned null; what was appended stays.
size_t k4mstr_append(k4mstr *string, const void *bytes, size_t n);

// As k4mstr_append, ignoring the kind's `max_len`.
size_t k4mstr_append_unlimited(k4mstr *string, const void *bytes, size_t n);

// Appends the zero-terminated `text` without its terminating zero; results as
// for k4mstr_append.
size_t k4mstr_append_cstr(k4mstr *string, const char *text);

// As k4mstr_append_cstr, ignoring the kind's `max_len`.
size_t k4mstr_append_cstr_unlimited(k4mstr *string, const char *text);

// Appends one byte; returns 1, or 0 when it could not be stored.
size_t k4mstr_append_char(k4mstr *string, char c);

// As k4mstr_append_char, ignoring the kind's `max_len`.
size_t k4mstr_append_char_unlimited(k4mstr *string, char c);

// Empties the string: hands every segment, the first one included, to its
// release function (when it has one) with the kind's user data, then calls
// the kind's `on_clear` when set. The string has no segment afterwards.
void k4mstr_clear(k4mstr *string);

// Empties the string but keeps its first segment (its `used` becomes 0) for
// reuse; releases all others as k4mstr_clear does. Does not call `on_clear`.
void k4mstr_truncate(k4mstr *string);

// The last byte (0 to 255), or -1 when the string is empty. Drops (and
// releases) empty segments at the end of the chain first.
int k4mstr_last_char(k4mstr *string);

// As k4mstr_last_char, and removes that byte. On an empty string nothing but
// empty segments is dropped.
int k4mstr_pop_char(k4mstr *string);

// Copies the first min(n, len) bytes into `buffer` and returns their number.
size_t k4mstr_copy_out(const k4mstr *string, void *buffer, size_t n);

// As k4mstr_copy_out, and stores a terminating zero behind the copied bytes
// when fewer than `n` were copied. When the string holds `n` bytes or more,
// the buffer gets `n` bytes and no terminator: compare the result with `n`.
size_t k4mstr_copy_out_cstr(const k4mstr *string, char *buffer, size_t n);

// Removes a trailing `c`: 1 when the last byte was `c` and is gone, 0 when
// the text did not end in `c` (or was empty) and is unchanged. Then, when the
// length is above `max_len` - 2, cuts one or two bytes and appends "..."
// (ignoring `max_len`), and the result is -1.
int k4mstr_chomp_char(k4mstr *string, char c);

// Removes a trailing `c`: 1 when it did. Otherwise the text is unchanged and
// the result is 0, unless the length is at `max_len` or above: then the last
// byte is replaced by "..." (ignoring `max_len`) and the result is -1.
int k4mstr_chomp_char_tight(k4mstr *string, char c);

// Removes a trailing line feed and a carriage return before it: 1 when a line
// feed was removed, 0 when the text did not end in one. Then the "..." rule
// of k4mstr_chomp_char (result -1).
int k4mstr_chomp_line_end(k4mstr *string);

#endif
