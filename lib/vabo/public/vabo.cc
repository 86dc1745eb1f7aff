#include "lib/vabo/public/vabo.h"

#include "lib/common/tirvo_assert.h"

#include <array>
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace {

// One entry of the type table.
struct type_entry {
    uint32_t id;    // field id; 0 ends the table
    vabo_type type; // its value type
};

// The type of every field id this system knows, ended by id 0.
constexpr type_entry type_table[] = {
    {LN_TIRVO_VERSION, vabo_type_int32},
    {LN_TIRVO_ALPHABET_SIZE, vabo_type_int32},
    {LN_TIRVO_SOURCE_NAME, vabo_type_bytes},
    {LN_TIRVO_NUM_DFAS, vabo_type_int32},
    {LN_TIRVO_NUM_VARIABLES, vabo_type_int32},
    {LN_TIRVO_NUM_BYC_PROGS, vabo_type_int32},
    {LN_TIRVO_VARIABLE_NAME, vabo_type_bytes},
    {LN_TIRVO_VARIABLE_ID, vabo_type_int32},
    {LN_TIRVO_VARIABLE_IS_SHARED, vabo_type_bool},
    {LN_TIRVO_VARIABLE_SIZE, vabo_type_int32},
    {LN_TIRVO_BYC_ID, vabo_type_int32},
    {LN_TIRVO_BYC, vabo_type_bytes},
    {LN_TIRVO_BYC_RELOC, vabo_type_bytes},
    {LN_TIRVO_BYC_RELOC_POS, vabo_type_int32},
    {LN_TIRVO_BYC_RELOC_TYPE, vabo_type_int32},
    {LN_TIRVO_LOCATION, vabo_type_bytes},
    {LN_TIRVO_LOCATION_FIRST_LINE, vabo_type_int32},
    {LN_TIRVO_LOCATION_FIRST_COLUMN, vabo_type_int32},
    {LN_TIRVO_LOCATION_LAST_LINE, vabo_type_int32},
    {LN_TIRVO_LOCATION_LAST_COLUMN, vabo_type_int32},
    {LN_TIRVO_DFA_ID, vabo_type_int32},
    {LN_TIRVO_DFA_NUM_STATES, vabo_type_int32},
    {LN_TIRVO_BOUND, vabo_type_int32},
    {13023, vabo_type_bytes}, // reserved, never written
    {LN_TIRVO_STATE_ID, vabo_type_int32},
    {LN_TIRVO_DFA_NUM_PLAIN_STATES, vabo_type_int32},
    {LN_TIRVO_COUNT_RANGE_START, vabo_type_int32},
    {LN_TIRVO_COUNT_RANGE_LEN, vabo_type_int32},
    {LN_TIRVO_STATE_COUNT, vabo_type_int32},
    {LN_TIRVO_COUNT_RANGE, vabo_type_bytes},
    {LN_TIRVO_BYC_NUM_RELOCS, vabo_type_int32},
    {LN_TIRVO_STATE_MATCHING_NEXT_STATE_EXISTS, vabo_type_bool},
    {LN_TIRVO_STATE_NUM_BYC_IDS, vabo_type_int32},
    {LN_TIRVO_STATE_CANNOT_MATCH, vabo_type_bool},
    {LN_TIRVO_STATE_NUM_COUNT_RANGES, vabo_type_int32},
    {LN_TIRVO_DFA_INITIAL_STATE, vabo_type_int32},
    {LN_TIRVO_BYC_REQUIRED_STACK_SIZE, vabo_type_int32},
    {LN_TIRVO_FILE_ID, vabo_type_int32},
    {LN_TIRVO_STATE_NEXT_STATES, vabo_type_bytes},
    {LN_TIRVO_NUM_SITUATIONS, vabo_type_int32},
    {LN_TIRVO_SITUATION_SID, vabo_type_int32},
    {LN_TIRVO_LOW_LEVEL_DFA, vabo_type_bool},
    {LN_TIRVO_STATE_NUM_SIDS, vabo_type_int32},
    {LN_TIRVO_STATE_SID, vabo_type_int32},
    {LN_TIRVO_STATE_TYPE, vabo_type_int32},
    {0, vabo_type_unknown},
};

// The loader looks up the type of every field it decodes, so the pairs are
// turned at compile time into an array indexed by id - lowest id.
constexpr uint32_t table_lowest_id() {
    uint32_t lo = UINT32_MAX;
    for (const type_entry &e : type_table)
        if (e.id != 0 && e.id < lo)
            lo = e.id;
    return lo;
}

constexpr uint32_t table_highest_id() {
    uint32_t hi = 0;
    for (const type_entry &e : type_table)
        if (e.id > hi)
            hi = e.id;
    return hi;
}

constexpr uint32_t lowest_id = table_lowest_id();
constexpr uint32_t highest_id = table_highest_id();

constexpr std::array<vabo_type, highest_id - lowest_id + 1> build_type_index() {
    std::array<vabo_type, highest_id - lowest_id + 1> index{};
    for (const type_entry &e : type_table)
        if (e.id != 0)
            index[e.id - lowest_id] = e.type;
    return index;
}

constexpr auto type_index = build_type_index();

// Number of bytes of `v` without trailing zero bytes (0 for 0).
size_t significant_bytes(uint64_t v) {
    size_t n = 0;
    while (v != 0) {
        ++n;
        v >>= 8;
    }
    return n;
}

// Writes `v` least significant byte first without trailing zero bytes into
// `out` (room for 8); returns the number of bytes.
size_t put_le(uint8_t *out, uint64_t v) {
    size_t n = 0;
    for (; v != 0; v >>= 8)
        out[n++] = static_cast<uint8_t>(v);
    return n;
}

// Number of bytes of a field header for `id` and a value of `len` bytes.
size_t header_size(uint32_t id, size_t len) {
    return (id >= VABO_LONG_ID_MIN ? 3 : 2) + (len > 8 ? significant_bytes(len) : 0);
}

// Writes the header of field `id` with a value of `len` bytes (below 2^32)
// into `out` (room for VABO_MAX_HEADER_SIZE); returns its size.
size_t put_header(uint8_t *out, uint32_t id, size_t len) {
    bool long_id = id >= VABO_LONG_ID_MIN;
    size_t num_len_bytes = len > 8 ? significant_bytes(len) : 0;
    unsigned code = len > 8 ? 8 + static_cast<unsigned>(num_len_bytes) : static_cast<unsigned>(len);
    out[0] = static_cast<uint8_t>(((id >> 8) & 7) | (long_id ? 8u : 0u) | (code << 4));
    out[1] = static_cast<uint8_t>(id);
    size_t pos = 2;
    if (long_id)
        out[pos++] = static_cast<uint8_t>(id >> 11);
    for (size_t i = 0; i < num_len_bytes; ++i)
        out[pos++] = static_cast<uint8_t>(len >> (8 * i));
    return pos;
}

// Keeps the first error of `context` and returns `err`.
int fail(vabo_context *context, int err) {
    if (context->error == 0)
        context->error = err;
    return err;
}

// Keeps the first error of `iter` and returns `err`.
int fail(vabo_iter *iter, int err) {
    if (iter->error == 0)
        iter->error = err;
    return err;
}

size_t free_bytes(const vabo_context *context) {
    return context->size - context->position;
}

// Room that encoding a field of `type` requires beyond the position, not
// counting a byte string's value; 0 for a type the encoder does not handle.
size_t field_reserve(vabo_type type) {
    switch (type) {
    case vabo_type_int32:
    case vabo_type_float:
    case vabo_type_ipv4_host:
    case vabo_type_ipv4_net:
        return 7;
    case vabo_type_bool:
        return 4;
    case vabo_type_mac:
        return 9;
    case vabo_type_int64:
    case vabo_type_double:
        return 11;
    case vabo_type_bytes:
        return 7;
    default:
        return 0;
    }
}

// The most value bytes a field of `type` may have when decoded, SIZE_MAX for
// no limit, 0 for a type that does not decode.
size_t max_value_len(vabo_type type) {
    switch (type) {
    case vabo_type_int32:
    case vabo_type_bool:
    case vabo_type_float:
    case vabo_type_ipv4_host:
    case vabo_type_ipv4_net:
        return 4;
    case vabo_type_int64:
    case vabo_type_double:
        return 8;
    case vabo_type_mac:
        return 6;
    case vabo_type_bytes:
    case vabo_type_record:
        return SIZE_MAX;
    default:
        return 0;
    }
}

// Text being built in a caller's buffer; `len` counts every character
// produced, also those that did not fit.
struct text_out {
    char *buf;   // the caller's buffer
    size_t size; // its size, terminator included
    size_t len;  // length of the whole text so far
};

void put_text(text_out *out, const char *s, size_t n) {
    if (out->size > 0 && out->len < out->size - 1) {
        size_t room = out->size - 1 - out->len;
        std::memcpy(out->buf + out->len, s, n < room ? n : room);
    }
    out->len += n;
}

template <typename... Args>
void put_format(text_out *out, const char *format, Args... args) {
    // "%f" of the largest double has 316 characters.
    char tmp[400];
    int n = std::snprintf(tmp, sizeof tmp, format, args...);
    TIRVO_ASSERT(n >= 0 && static_cast<size_t>(n) < sizeof tmp);
    put_text(out, tmp, static_cast<size_t>(n));
}

void put_escaped_bytes(text_out *out, const uint8_t *data, size_t len) {
    for (size_t i = 0; i < len; ++i) {
        uint8_t c = data[i];
        if (c == '\\') {
            put_text(out, "\\\\", 2);
        } else if (c >= 0x20 && c <= 0x7e) {
            char ch = static_cast<char>(c);
            put_text(out, &ch, 1);
        } else {
            put_format(out, "\\x%x", static_cast<unsigned>(c));
        }
    }
}

void put_ipv4(text_out *out, const uint8_t a[4]) {
    put_format(out, "%d.%d.%d.%d", a[0], a[1], a[2], a[3]);
}

} // namespace

vabo_type vabo_field_type(uint32_t id) {
    if (id < lowest_id || id > highest_id)
        return vabo_type_unknown;
    return type_index[id - lowest_id];
}

void vabo_context_init(vabo_context *context, uint8_t *buf, size_t size) {
    TIRVO_ASSERT(buf != nullptr || size == 0);
    *context = vabo_context{};
    context->buf = buf;
    context->size = size;
    context->record_start = -1;
}

int vabo_encode_typed_field(vabo_context *context, uint32_t id, vabo_type type, const void *value,
                            size_t length) {
    TIRVO_ASSERT(id < (1 << 19));
    size_t reserve = field_reserve(type);
    if (reserve == 0)
        return fail(context, VABO_ERR_INVALID);
    if (value == nullptr && !(type == vabo_type_bytes && length == 0))
        return fail(context, VABO_ERR_INVALID);

    // The value bytes, all checks done before anything is written.
    uint8_t tmp[8];
    const uint8_t *src = tmp;
    size_t len = 0;
    switch (type) {
    case vabo_type_int32: {
        uint32_t v;
        std::memcpy(&v, value, sizeof v);
        len = put_le(tmp, v);
        break;
    }
    case vabo_type_int64: {
        uint64_t v;
        std::memcpy(&v, value, sizeof v);
        len = put_le(tmp, v);
        break;
    }
    case vabo_type_bool:
        if (*static_cast<const bool *>(value)) {
            tmp[0] = 1;
            len = 1;
        }
        break;
    case vabo_type_float:
        len = put_le(tmp, std::bit_cast<uint32_t>(*static_cast<const float *>(value)));
        break;
    case vabo_type_double:
        len = put_le(tmp, std::bit_cast<uint64_t>(*static_cast<const double *>(value)));
        break;
    case vabo_type_ipv4_host:
    case vabo_type_ipv4_net: {
        uint32_t v;
        std::memcpy(&v, value, sizeof v);
        if (type == vabo_type_ipv4_host) {
            for (int i = 0; i < 4; ++i)
                tmp[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
        } else {
            std::memcpy(tmp, &v, 4); // already most significant byte first
        }
        len = 4;
        while (len > 0 && tmp[len - 1] == 0)
            --len;
        break;
    }
    case vabo_type_mac: {
        uint64_t v;
        std::memcpy(&v, value, sizeof v);
        if (v >> 48 != 0)
            return fail(context, VABO_ERR_INVALID);
        for (int i = 0; i < 6; ++i)
            tmp[i] = static_cast<uint8_t>(v >> (40 - 8 * i));
        len = 6;
        break;
    }
    default: // vabo_type_bytes
        if (length > UINT32_MAX)
            return fail(context, VABO_ERR_INVALID);
        src = static_cast<const uint8_t *>(value);
        len = length;
        break;
    }

    size_t room = free_bytes(context);
    if (room < reserve || room - reserve < (type == vabo_type_bytes ? len : 0))
        return fail(context, VABO_ERR_SHORT);
    uint8_t *out = context->buf + context->position;
    size_t hlen = put_header(out, id, len);
    if (len > 0)
        std::memcpy(out + hlen, src, len);
    context->position += hlen + len;
    return 0;
}

int vabo_encode_field(vabo_context *context, uint32_t id, const void *value, size_t length) {
    return vabo_encode_typed_field(context, id, vabo_field_type(id), value, length);
}

namespace {

// Encodes a field whose id the table must give the type `type`.
int encode_checked(vabo_context *context, uint32_t id, vabo_type type, const void *value,
                   size_t length) {
    TIRVO_ASSERT(id < (1 << 19));
    if (vabo_field_type(id) != type)
        return fail(context, VABO_ERR_INVALID);
    return vabo_encode_typed_field(context, id, type, value, length);
}

} // namespace

int vabo_encode_int32(vabo_context *context, uint32_t id, int32_t value) {
    return encode_checked(context, id, vabo_type_int32, &value, 0);
}

int vabo_encode_bool(vabo_context *context, uint32_t id, bool value) {
    return encode_checked(context, id, vabo_type_bool, &value, 0);
}

int vabo_encode_bytes(vabo_context *context, uint32_t id, const void *bytes, size_t length) {
    return encode_checked(context, id, vabo_type_bytes, bytes, length);
}

int vabo_begin_record(vabo_context *context, uint8_t kind) {
    if (context->record_start >= 0 || context->nesting_depth > 0)
        return fail(context, VABO_ERR_INVALID);
    if (free_bytes(context) < VABO_RECORD_HEADER_SIZE)
        return fail(context, VABO_ERR_SHORT);
    uint8_t *out = context->buf + context->position;
    out[0] = kind;
    std::memset(out + 1, 0, 4);
    context->record_start = static_cast<ptrdiff_t>(context->position);
    context->position += VABO_RECORD_HEADER_SIZE;
    return 0;
}

int vabo_end_record(vabo_context *context) {
    if (context->record_start < 0 || context->nesting_depth > 0)
        return fail(context, VABO_ERR_INVALID);
    size_t start = static_cast<size_t>(context->record_start);
    size_t len = context->position - start;
    if (len > UINT32_MAX)
        return fail(context, VABO_ERR_INVALID);
    uint8_t *out = context->buf + start + 1;
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(len >> (24 - 8 * i));
    context->record_start = -1;
    return 0;
}

int vabo_begin_nested(vabo_context *context, uint32_t id) {
    TIRVO_ASSERT(id < (1 << 19));
    if (vabo_field_type(id) != vabo_type_bytes || context->nesting_depth >= VABO_MAX_NESTING)
        return fail(context, VABO_ERR_INVALID);
    if (free_bytes(context) < VABO_MAX_HEADER_SIZE)
        return fail(context, VABO_ERR_SHORT);
    vabo_nested *nested = &context->nested[context->nesting_depth++];
    nested->id = id;
    nested->header_position = context->position;
    nested->data_position = context->position + VABO_MAX_HEADER_SIZE;
    context->position = nested->data_position;
    return 0;
}

int vabo_end_nested(vabo_context *context, uint32_t id) {
    if (context->nesting_depth == 0)
        return fail(context, VABO_ERR_INVALID);
    const vabo_nested *nested = &context->nested[context->nesting_depth - 1];
    size_t len = context->position - nested->data_position;
    if (nested->id != id || len > UINT32_MAX)
        return fail(context, VABO_ERR_INVALID);
    uint8_t header[VABO_MAX_HEADER_SIZE];
    size_t hlen = put_header(header, id, len);
    context->position = nested->header_position + hlen;
    TIRVO_ASSERT_TEXT(context->position <= nested->data_position,
                      "context->position <= nested->data_position");
    std::memcpy(context->buf + nested->header_position, header, hlen);
    if (len > 0)
        std::memmove(context->buf + context->position, context->buf + nested->data_position, len);
    context->position += len;
    --context->nesting_depth;
    return 0;
}

size_t vabo_encoded_size(uint32_t id, size_t length) {
    size_t value_size;
    switch (vabo_field_type(id)) {
    case vabo_type_int32:
    case vabo_type_float:
    case vabo_type_ipv4_host:
    case vabo_type_ipv4_net:
        value_size = 4;
        break;
    case vabo_type_int64:
    case vabo_type_double:
    case vabo_type_mac:
        value_size = 8;
        break;
    case vabo_type_bool:
        value_size = 1;
        break;
    case vabo_type_bytes:
        value_size = length;
        break;
    default:
        value_size = length > 8 ? length : 8;
        break;
    }
    size_t overhead = header_size(id, value_size);
    if (value_size > SIZE_MAX - overhead)
        return SIZE_MAX;
    return overhead + value_size;
}

int vabo_decode_header(const uint8_t *bytes, size_t available, vabo_header *header) {
    if (available < 2)
        return VABO_ERR_SHORT;
    uint8_t b0 = bytes[0];
    uint32_t id = static_cast<uint32_t>(b0 & 7) << 8 | bytes[1];
    size_t pos = 2;
    if (b0 & 8) {
        if (available < 3)
            return VABO_ERR_SHORT;
        id |= static_cast<uint32_t>(bytes[2]) << 11;
        pos = 3;
    }
    unsigned code = b0 >> 4;
    size_t len = code;
    if (code > 8) {
        size_t num_len_bytes = code & 7;
        if (num_len_bytes > 4)
            return VABO_ERR_INVALID;
        if (available - pos < num_len_bytes)
            return VABO_ERR_SHORT;
        uint32_t v = 0;
        for (size_t i = 0; i < num_len_bytes; ++i)
            v |= static_cast<uint32_t>(bytes[pos + i]) << (8 * i);
        pos += num_len_bytes;
        len = v;
    }
    if (len > available - pos)
        return VABO_ERR_SHORT;
    header->id = id;
    header->value_offset = pos;
    header->end_offset = pos + len;
    return 0;
}

int vabo_decode_value(uint32_t id, vabo_type type, const uint8_t *data, size_t len,
                      vabo_value *value) {
    size_t max_len = max_value_len(type);
    if (max_len == 0 || len > max_len)
        return VABO_ERR_INVALID;
    *value = vabo_value{};
    value->id = id;
    value->type = type;
    value->data = data;
    value->len = len;
    if (type == vabo_type_bytes || type == vabo_type_record)
        return 0;

    // Every other type has at most 8 bytes.
    uint64_t le = 0;
    for (size_t i = 0; i < len; ++i)
        le |= static_cast<uint64_t>(data[i]) << (8 * i);
    switch (type) {
    case vabo_type_int32:
        value->i32 = static_cast<int32_t>(static_cast<uint32_t>(le));
        break;
    case vabo_type_int64:
        value->i64 = static_cast<int64_t>(le);
        break;
    case vabo_type_bool:
        value->boolean = le != 0;
        break;
    case vabo_type_float:
        value->f32 = std::bit_cast<float>(static_cast<uint32_t>(le));
        break;
    case vabo_type_double:
        value->f64 = std::bit_cast<double>(le);
        break;
    case vabo_type_ipv4_host:
        for (size_t i = 0; i < 4; ++i)
            value->u32 = value->u32 << 8 | (i < len ? data[i] : 0u);
        break;
    case vabo_type_ipv4_net: {
        uint8_t a[4] = {};
        if (len > 0)
            std::memcpy(a, data, len);
        std::memcpy(&value->u32, a, 4);
        break;
    }
    default: // vabo_type_mac
        for (size_t i = 0; i < len; ++i)
            value->u64 = value->u64 << 8 | data[i];
        break;
    }
    return 0;
}

int vabo_decode_field(const uint8_t *bytes, size_t available, vabo_value *value, size_t *end) {
    vabo_header header;
    int err = vabo_decode_header(bytes, available, &header);
    if (err != 0)
        return err;
    err = vabo_decode_value(header.id, vabo_field_type(header.id), bytes + header.value_offset,
                            header.end_offset - header.value_offset, value);
    if (err != 0)
        return err;
    if (end != nullptr)
        *end = header.end_offset;
    return 0;
}

int vabo_decode_record_header(const uint8_t *bytes, size_t available, uint8_t *kind,
                              uint32_t *length) {
    if (available < VABO_RECORD_HEADER_SIZE)
        return VABO_ERR_SHORT;
    uint32_t len = 0;
    for (int i = 1; i <= 4; ++i)
        len = len << 8 | bytes[i];
    if (len < VABO_RECORD_HEADER_SIZE)
        return VABO_ERR_INVALID;
    *kind = bytes[0];
    *length = len;
    return 0;
}

void vabo_iter_init(vabo_iter *iter, const uint8_t *bytes, size_t len) {
    iter->start = bytes;
    iter->end = bytes + len;
    iter->cursor = bytes;
    iter->error = 0;
}

int vabo_next_field(vabo_iter *iter, vabo_value *value) {
    if (iter->cursor >= iter->end)
        return fail(iter, VABO_ERR_SHORT);
    size_t end;
    int err =
        vabo_decode_field(iter->cursor, static_cast<size_t>(iter->end - iter->cursor), value, &end);
    if (err != 0)
        return fail(iter, err);
    iter->cursor += end;
    return 0;
}

int vabo_find_field(vabo_iter *iter, const uint32_t *ids, size_t num_ids, vabo_value *value) {
    for (;;) {
        if (iter->cursor >= iter->end)
            return fail(iter, VABO_ERR_SHORT);
        vabo_header header;
        int err = vabo_decode_header(iter->cursor, static_cast<size_t>(iter->end - iter->cursor),
                                     &header);
        if (err != 0)
            return fail(iter, err);
        bool wanted = false;
        for (size_t i = 0; i < num_ids && !wanted; ++i)
            wanted = ids[i] == header.id;
        if (wanted) {
            err = vabo_decode_value(header.id, vabo_field_type(header.id),
                                    iter->cursor + header.value_offset,
                                    header.end_offset - header.value_offset, value);
            if (err != 0)
                return fail(iter, err);
        }
        iter->cursor += header.end_offset;
        if (wanted)
            return 0;
    }
}

ptrdiff_t vabo_value_to_text(char *buf, size_t size, const vabo_value *value) {
    text_out out{buf, size, 0};
    switch (value->type) {
    case vabo_type_int32:
        put_format(&out, "%" PRId32, value->i32);
        break;
    case vabo_type_int64:
        put_format(&out, "%" PRId64, value->i64);
        break;
    case vabo_type_bool:
        put_text(&out, value->boolean ? "TRUE" : "FALSE", value->boolean ? 4 : 5);
        break;
    case vabo_type_float:
        put_format(&out, "%f", static_cast<double>(value->f32));
        break;
    case vabo_type_double:
        put_format(&out, "%f", value->f64);
        break;
    case vabo_type_ipv4_host: {
        uint8_t a[4];
        for (int i = 0; i < 4; ++i)
            a[i] = static_cast<uint8_t>(value->u32 >> (24 - 8 * i));
        put_ipv4(&out, a);
        break;
    }
    case vabo_type_ipv4_net: {
        uint8_t a[4];
        std::memcpy(a, &value->u32, 4);
        put_ipv4(&out, a);
        break;
    }
    case vabo_type_mac: {
        uint64_t v = value->u64;
        put_format(&out, "%x:%x:%x:%x:%x:%x", static_cast<unsigned>(v >> 40 & 0xff),
                   static_cast<unsigned>(v >> 32 & 0xff), static_cast<unsigned>(v >> 24 & 0xff),
                   static_cast<unsigned>(v >> 16 & 0xff), static_cast<unsigned>(v >> 8 & 0xff),
                   static_cast<unsigned>(v & 0xff));
        break;
    }
    case vabo_type_bytes:
        put_escaped_bytes(&out, value->data, value->len);
        break;
    default:
        if (size > 0)
            buf[0] = '\0';
        return VABO_ERR_INVALID;
    }
    if (size > 0)
        buf[out.len < size ? out.len : size - 1] = '\0';
    if (out.len >= size)
        return VABO_ERR_SHORT;
    return static_cast<ptrdiff_t>(out.len);
}
