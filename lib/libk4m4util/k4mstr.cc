#include "lib/libk4m4util/k4mstr.h"

#include "lib/common/tirvo_assert.h"

#include <cstring>

namespace {

// Makes a new segment of the string's kind and links it at the end of the
// chain; returns it, or null when the allocation function had no storage.
//
// The block is the header followed directly by `seg_size` data bytes. The
// header is 16 bytes on a 32-bit build (so a segment of the loader's kind
// takes 4092 + 16 bytes there); here the block is sizeof(k4mstr_seg) +
// `seg_size` bytes, whatever the header's size on this platform.
k4mstr_seg *new_segment(k4mstr *string) {
    const k4mstr_ops *ops = string->ops;
    if (!ops->alloc_seg)
        return nullptr;
    TIRVO_ASSERT(ops->seg_size > 0 && ops->seg_size <= UINT16_MAX);
    void *block = ops->alloc_seg(sizeof(k4mstr_seg) + ops->seg_size, ops->user);
    if (!block)
        return nullptr;
    auto *seg = static_cast<k4mstr_seg *>(block);
    k4mstr_seg_init(seg, reinterpret_cast<uint8_t *>(seg + 1), static_cast<uint16_t>(ops->seg_size),
                    0, ops->release_seg);
    if (!string->last) {
        TIRVO_ASSERT_TEXT(string->first_seg == nullptr, "string->first_seg == NULL");
        string->first_seg = seg;
    } else {
        TIRVO_ASSERT_TEXT(string->last->next_seg == nullptr, "last->next_seg == NULL");
        string->last->next_seg = seg;
    }
    string->last = seg;
    return seg;
}

// Appends up to `n` bytes while the length stays within `max_len`; returns
// the number appended.
size_t append_limited(k4mstr *string, const uint8_t *bytes, size_t n, size_t max_len) {
    size_t done = 0;
    for (;;) {
        if (k4mstr_seg *seg = string->last) {
            size_t r = n - done;
            size_t room = static_cast<size_t>(seg->capacity - seg->used);
            if (r > room)
                r = room;
            size_t left = string->len >= max_len ? 0 : max_len - string->len;
            if (r > left)
                r = left;
            if (r > 0) {
                std::memcpy(seg->data + seg->used, bytes + done, r);
                seg->used = static_cast<uint16_t>(seg->used + r);
                string->len += r;
                done += r;
            }
        }
        if (done == n || string->len >= max_len)
            return done;
        if (!new_segment(string))
            return done;
    }
}

void release_segment(const k4mstr *string, k4mstr_seg *seg) {
    if (seg->release)
        seg->release(seg, string->ops->user);
}

// Releases `seg` and every segment after it.
void release_chain(const k4mstr *string, k4mstr_seg *seg) {
    while (seg) {
        k4mstr_seg *next = seg->next_seg;
        release_segment(string, seg);
        seg = next;
    }
}

// Drops empty segments from the end of the chain, so that the last segment
// (if any) holds the last byte.
void drop_empty_tail(k4mstr *string) {
    while (string->last && string->last->used == 0) {
        k4mstr_seg *dropped = string->last;
        k4mstr_seg *pred = nullptr;
        if (string->first_seg != dropped) {
            pred = string->first_seg;
            while (pred->next_seg != dropped)
                pred = pred->next_seg;
            pred->next_seg = nullptr;
        } else {
            string->first_seg = nullptr;
        }
        string->last = pred;
        release_segment(string, dropped);
    }
}

// After a chomp: when the text is longer than `max_len` - 2, cuts one or two
// bytes and marks the cut with "...". Returns -1 when it did, else `result`.
int mark_cut(k4mstr *string, int result) {
    size_t max_len = string->ops->max_len;
    if (string->len + 2 <= max_len)
        return result;
    k4mstr_pop_char(string);
    if (string->len + 2 > max_len)
        k4mstr_pop_char(string);
    k4mstr_append_cstr_unlimited(string, "...");
    return -1;
}

} // namespace

void k4mstr_seg_init(k4mstr_seg *seg, uint8_t *data, uint16_t capacity, uint16_t used,
                     k4mstr_release_fn release) {
    TIRVO_ASSERT(used <= capacity);
    seg->next_seg = nullptr;
    seg->data = data;
    seg->release = release;
    seg->capacity = capacity;
    seg->used = used;
}

void k4mstr_ops_init_loader(k4mstr_ops *ops, k4mstr_alloc_fn alloc, k4mstr_release_fn release,
                            void *user) {
    ops->alloc_seg = alloc;
    ops->release_seg = release;
    ops->on_clear = nullptr;
    ops->max_len = K4MSTR_LOADER_MAX_LEN;
    ops->seg_size = K4MSTR_LOADER_SEG_SIZE;
    ops->user = user;
}

void k4mstr_init(k4mstr *string, const k4mstr_ops *ops, k4mstr_seg *initial_segment) {
    TIRVO_ASSERT(ops != nullptr);
    string->ops = ops;
    string->len = 0;
    string->first_seg = nullptr;
    string->last = nullptr;
    if (initial_segment) {
        TIRVO_ASSERT_TEXT(initial_segment->next_seg == nullptr,
                          "initial_segment->next_seg == NULL");
        string->first_seg = initial_segment;
        string->last = initial_segment;
        string->len = initial_segment->used;
    }
}

size_t k4mstr_append(k4mstr *string, const void *bytes, size_t n) {
    return append_limited(string, static_cast<const uint8_t *>(bytes), n, string->ops->max_len);
}

size_t k4mstr_append_unlimited(k4mstr *string, const void *bytes, size_t n) {
    return append_limited(string, static_cast<const uint8_t *>(bytes), n, K4MSTR_UNLIMITED);
}

size_t k4mstr_append_cstr(k4mstr *string, const char *text) {
    return k4mstr_append(string, text, std::strlen(text));
}

size_t k4mstr_append_cstr_unlimited(k4mstr *string, const char *text) {
    return k4mstr_append_unlimited(string, text, std::strlen(text));
}

size_t k4mstr_append_char(k4mstr *string, char c) {
    return k4mstr_append(string, &c, 1);
}

size_t k4mstr_append_char_unlimited(k4mstr *string, char c) {
    return k4mstr_append_unlimited(string, &c, 1);
}

void k4mstr_clear(k4mstr *string) {
    k4mstr_seg *chain = string->first_seg;
    string->first_seg = nullptr;
    string->last = nullptr;
    string->len = 0;
    release_chain(string, chain);
    if (string->ops->on_clear)
        string->ops->on_clear(string, string->ops->user);
}

void k4mstr_truncate(k4mstr *string) {
    k4mstr_seg *first = string->first_seg;
    string->len = 0;
    if (!first)
        return;
    k4mstr_seg *rest = first->next_seg;
    first->next_seg = nullptr;
    first->used = 0;
    string->last = first;
    release_chain(string, rest);
}

int k4mstr_last_char(k4mstr *string) {
    drop_empty_tail(string);
    if (!string->last)
        return -1;
    return string->last->data[string->last->used - 1];
}

int k4mstr_pop_char(k4mstr *string) {
    drop_empty_tail(string);
    k4mstr_seg *seg = string->last;
    if (!seg)
        return -1;
    --seg->used;
    --string->len;
    return seg->data[seg->used];
}

size_t k4mstr_copy_out(const k4mstr *string, void *buffer, size_t n) {
    auto *out = static_cast<uint8_t *>(buffer);
    size_t done = 0;
    for (const k4mstr_seg *seg = string->first_seg; seg && done < n; seg = seg->next_seg) {
        size_t r = n - done < seg->used ? n - done : seg->used;
        std::memcpy(out + done, seg->data, r);
        done += r;
    }
    return done;
}

size_t k4mstr_copy_out_cstr(const k4mstr *string, char *buffer, size_t n) {
    size_t done = k4mstr_copy_out(string, buffer, n);
    if (done < n)
        buffer[done] = '\0';
    return done;
}

int k4mstr_chomp_char(k4mstr *string, char c) {
    int result = 0;
    int last = k4mstr_pop_char(string);
    if (last == static_cast<unsigned char>(c))
        result = 1;
    else if (last >= 0)
        k4mstr_append_char_unlimited(string, static_cast<char>(last));
    return mark_cut(string, result);
}

int k4mstr_chomp_char_tight(k4mstr *string, char c) {
    int last = k4mstr_pop_char(string);
    if (last == static_cast<unsigned char>(c))
        return 1;
    if (last >= 0)
        k4mstr_append_char_unlimited(string, static_cast<char>(last));
    if (string->len + 1 <= string->ops->max_len)
        return 0;
    k4mstr_pop_char(string);
    k4mstr_append_cstr_unlimited(string, "...");
    return -1;
}

int k4mstr_chomp_line_end(k4mstr *string) {
    int result = 0;
    int last = k4mstr_pop_char(string);
    if (last == '\n') {
        result = 1;
        if (k4mstr_last_char(string) == '\r')
            k4mstr_pop_char(string);
    } else if (last >= 0) {
        k4mstr_append_char_unlimited(string, static_cast<char>(last));
    }
    return mark_cut(string, result);
}
