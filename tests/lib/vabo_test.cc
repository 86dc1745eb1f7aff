#include "lib/vabo/public/vabo.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

bytes written(const vabo_context &c) {
    return bytes(c.buf, c.buf + c.position);
}

bytes concat(bytes a, const bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A uint32_t whose bytes in memory are the address `a` most significant
// first, as a network-order address is held.
uint32_t net_order(uint32_t a) {
    uint8_t b[4] = {static_cast<uint8_t>(a >> 24), static_cast<uint8_t>(a >> 16),
                    static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a)};
    uint32_t v;
    std::memcpy(&v, b, 4);
    return v;
}

// Encodes a value of `type` given as a bit pattern (`bits`) or, for byte
// strings, as `str`.
int encode_bits(vabo_context *c, uint32_t id, vabo_type type, uint64_t bits, const bytes &str) {
    switch (type) {
    case vabo_type_int32: {
        int32_t v = static_cast<int32_t>(static_cast<uint32_t>(bits));
        return vabo_encode_typed_field(c, id, type, &v, 0);
    }
    case vabo_type_int64: {
        int64_t v = static_cast<int64_t>(bits);
        return vabo_encode_typed_field(c, id, type, &v, 0);
    }
    case vabo_type_bool: {
        bool v = bits != 0;
        return vabo_encode_typed_field(c, id, type, &v, 0);
    }
    case vabo_type_float: {
        float v = std::bit_cast<float>(static_cast<uint32_t>(bits));
        return vabo_encode_typed_field(c, id, type, &v, 0);
    }
    case vabo_type_double: {
        double v = std::bit_cast<double>(bits);
        return vabo_encode_typed_field(c, id, type, &v, 0);
    }
    case vabo_type_ipv4_host: {
        uint32_t v = static_cast<uint32_t>(bits);
        return vabo_encode_typed_field(c, id, type, &v, 0);
    }
    case vabo_type_ipv4_net: {
        uint32_t v = net_order(static_cast<uint32_t>(bits));
        return vabo_encode_typed_field(c, id, type, &v, 0);
    }
    case vabo_type_mac:
        return vabo_encode_typed_field(c, id, type, &bits, 0);
    default:
        return vabo_encode_typed_field(c, id, type, str.data(), str.size());
    }
}

// Checks that `v` holds the value that encode_bits was given.
void expect_value(const vabo_value &v, uint32_t id, vabo_type type, uint64_t bits,
                  const bytes &str) {
    EXPECT_EQ(v.id, id);
    EXPECT_EQ(v.type, type);
    switch (type) {
    case vabo_type_int32:
        EXPECT_EQ(v.i32, static_cast<int32_t>(static_cast<uint32_t>(bits)));
        break;
    case vabo_type_int64:
        EXPECT_EQ(v.i64, static_cast<int64_t>(bits));
        break;
    case vabo_type_bool:
        EXPECT_EQ(v.boolean, bits != 0);
        break;
    case vabo_type_float:
        EXPECT_EQ(std::bit_cast<uint32_t>(v.f32), static_cast<uint32_t>(bits));
        break;
    case vabo_type_double:
        EXPECT_EQ(std::bit_cast<uint64_t>(v.f64), bits);
        break;
    case vabo_type_ipv4_host:
        EXPECT_EQ(v.u32, static_cast<uint32_t>(bits));
        break;
    case vabo_type_ipv4_net:
        EXPECT_EQ(v.u32, net_order(static_cast<uint32_t>(bits)));
        break;
    case vabo_type_mac:
        EXPECT_EQ(v.u64, bits);
        break;
    default:
        EXPECT_EQ(bytes(v.data, v.data + v.len), str);
        break;
    }
}

bytes str_bytes(const char *s) {
    return bytes(s, s + std::strlen(s));
}

// ---------------------------------------------------------------------------
// The type table

TEST(VaboTypes, FingerprintIdsHaveTheirTypes) {
    const uint32_t bools[] = {13008, 13031, 13033, 13041};
    const uint32_t strings[] = {13002, 13006, 13011, 13012, 13015, 13023, 13029, 13038};
    for (uint32_t id = 13000; id <= 13044; ++id) {
        vabo_type want = vabo_type_int32;
        for (uint32_t b : bools)
            if (b == id)
                want = vabo_type_bool;
        for (uint32_t s : strings)
            if (s == id)
                want = vabo_type_bytes;
        EXPECT_EQ(vabo_field_type(id), want) << id;
    }
    for (uint32_t id : {0u, 1u, 2047u, 2048u, 12999u, 13045u, 524287u, 524288u, 0xFFFFFFFFu})
        EXPECT_EQ(vabo_field_type(id), vabo_type_unknown) << id;
}

// ---------------------------------------------------------------------------
// Field encodings, worked out by hand, and their decoding

struct field_case {
    uint32_t id;
    vabo_type type;
    uint64_t bits;   // the value's bit pattern (not for byte strings)
    const char *str; // the value of a byte string
    bytes encoding;
};

const field_case field_cases[] = {
    // 13000 = 0x32C8: id bits 8-10 = 2, bits 11-18 = 6, so byte 0 is 0x0A | L << 4.
    {13000, vabo_type_int32, 0, "", {0x0A, 0xC8, 0x06}},
    {13000, vabo_type_int32, 1, "", {0x1A, 0xC8, 0x06, 0x01}},
    {13000, vabo_type_int32, 300, "", {0x2A, 0xC8, 0x06, 0x2C, 0x01}},
    {13021, vabo_type_int32, 65536, "", {0x3A, 0xDD, 0x06, 0x00, 0x00, 0x01}},
    {13044, vabo_type_int32, 0x01000000, "", {0x4A, 0xF4, 0x06, 0x00, 0x00, 0x00, 0x01}},
    {13022, vabo_type_int32, 0xFFFFFFFF, "", {0x4A, 0xDE, 0x06, 0xFF, 0xFF, 0xFF, 0xFF}},
    {13041, vabo_type_bool, 1, "", {0x1A, 0xF1, 0x06, 0x01}},
    {13041, vabo_type_bool, 0, "", {0x0A, 0xF1, 0x06}},
    {13002, vabo_type_bytes, 0, "", {0x0A, 0xCA, 0x06}},
    {13002,
     vabo_type_bytes,
     0,
     "abcdefgh",
     {0x8A, 0xCA, 0x06, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'}},
    {13002,
     vabo_type_bytes,
     0,
     "abcdefghi",
     {0x9A, 0xCA, 0x06, 0x09, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i'}},
    // Short ids: two header bytes, id bits 8-10 in byte 0.
    {0, vabo_type_int32, 0, "", {0x00, 0x00}},
    {5, vabo_type_int32, 1, "", {0x10, 0x05, 0x01}},
    {1023, vabo_type_int32, 0, "", {0x03, 0xFF}},
    {2047, vabo_type_int32, 2, "", {0x17, 0xFF, 0x02}},
    {1, vabo_type_bool, 1, "", {0x10, 0x01, 0x01}},
    // Long ids from 2048: byte 2 holds id bits 11-18.
    {2048, vabo_type_int32, 2, "", {0x18, 0x00, 0x01, 0x02}},
    {2049, vabo_type_bytes, 0, "xy", {0x28, 0x01, 0x01, 'x', 'y'}},
    {524287, vabo_type_int32, 7, "", {0x1F, 0xFF, 0xFF, 0x07}},
    // The other value types, with id 100 = 0x64.
    {100, vabo_type_int64, 0x0102030405060708, "", {0x80, 0x64, 8, 7, 6, 5, 4, 3, 2, 1}},
    {100, vabo_type_int64, 0x100000000, "", {0x50, 0x64, 0, 0, 0, 0, 1}},
    {100,
     vabo_type_int64,
     0xFFFFFFFFFFFFFFFF,
     "",
     {0x80, 0x64, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
    {100, vabo_type_float, 0x00000000, "", {0x00, 0x64}},                   // 0.0f
    {100, vabo_type_float, 0x3F800000, "", {0x40, 0x64, 0, 0, 0x80, 0x3F}}, // 1.0f
    {100, vabo_type_float, 0x80000000, "", {0x40, 0x64, 0, 0, 0, 0x80}},    // -0.0f
    {100, vabo_type_double, 0x4000000000000000, "", {0x80, 0x64, 0, 0, 0, 0, 0, 0, 0, 0x40}},
    {100, vabo_type_double, 0xBFD0000000000000, "", {0x80, 0x64, 0, 0, 0, 0, 0, 0, 0xD0, 0xBF}},
    // Addresses: bytes most significant first, trailing zero bytes dropped.
    {100, vabo_type_ipv4_host, 0xC0A80101, "", {0x40, 0x64, 0xC0, 0xA8, 0x01, 0x01}},
    {100, vabo_type_ipv4_host, 0x0A010000, "", {0x20, 0x64, 0x0A, 0x01}},
    {100, vabo_type_ipv4_host, 0x00000001, "", {0x40, 0x64, 0, 0, 0, 1}},
    {100, vabo_type_ipv4_host, 0, "", {0x00, 0x64}},
    {100, vabo_type_ipv4_net, 0x0A010000, "", {0x20, 0x64, 0x0A, 0x01}},
    {100, vabo_type_ipv4_net, 0xC0A80101, "", {0x40, 0x64, 0xC0, 0xA8, 0x01, 0x01}},
    {100, vabo_type_mac, 0x001122334455, "", {0x60, 0x64, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55}},
    {100, vabo_type_mac, 0, "", {0x60, 0x64, 0, 0, 0, 0, 0, 0}},
};

TEST(VaboField, EncodesToTheExactBytes) {
    for (const field_case &fc : field_cases) {
        SCOPED_TRACE(testing::Message() << "id " << fc.id << " type " << int(fc.type) << " bits "
                                        << fc.bits << " str " << fc.str);
        uint8_t buf[64];
        vabo_context c;
        vabo_context_init(&c, buf, sizeof buf);
        ASSERT_EQ(encode_bits(&c, fc.id, fc.type, fc.bits, str_bytes(fc.str)), 0);
        EXPECT_EQ(written(c), fc.encoding);
        EXPECT_EQ(c.error, 0);
        // The ids of the table also go through the generic call.
        if (vabo_field_type(fc.id) == fc.type) {
            vabo_context_init(&c, buf, sizeof buf);
            if (fc.type == vabo_type_int32)
                ASSERT_EQ(vabo_encode_int32(&c, fc.id, static_cast<int32_t>(fc.bits)), 0);
            else if (fc.type == vabo_type_bool)
                ASSERT_EQ(vabo_encode_bool(&c, fc.id, fc.bits != 0), 0);
            else
                ASSERT_EQ(vabo_encode_bytes(&c, fc.id, fc.str, std::strlen(fc.str)), 0);
            EXPECT_EQ(written(c), fc.encoding);
        }
    }
}

TEST(VaboField, DecodesBackToTheValue) {
    for (const field_case &fc : field_cases) {
        SCOPED_TRACE(testing::Message() << "id " << fc.id << " type " << int(fc.type));
        // One byte of the next field behind it must be left alone.
        bytes in = concat(fc.encoding, {0xEE});
        vabo_header h;
        ASSERT_EQ(vabo_decode_header(in.data(), in.size(), &h), 0);
        EXPECT_EQ(h.id, fc.id);
        EXPECT_EQ(h.end_offset, fc.encoding.size());
        vabo_value v;
        ASSERT_EQ(vabo_decode_value(h.id, fc.type, in.data() + h.value_offset,
                                    h.end_offset - h.value_offset, &v),
                  0);
        expect_value(v, fc.id, fc.type, fc.bits, str_bytes(fc.str));
        if (vabo_field_type(fc.id) == fc.type) {
            size_t end = 0;
            ASSERT_EQ(vabo_decode_field(in.data(), in.size(), &v, &end), 0);
            EXPECT_EQ(end, fc.encoding.size());
            expect_value(v, fc.id, fc.type, fc.bits, str_bytes(fc.str));
        }
    }
}

// Byte strings longer than 8 bytes: length code 8 + n, then n length bytes.
TEST(VaboField, LongFormLengthBytes) {
    struct {
        size_t len;
        bytes header;
    } const cases[] = {
        {9, {0x9A, 0xCA, 0x06, 0x09}},
        {255, {0x9A, 0xCA, 0x06, 0xFF}},
        {256, {0xAA, 0xCA, 0x06, 0x00, 0x01}},
        {300, {0xAA, 0xCA, 0x06, 0x2C, 0x01}},
        {65535, {0xAA, 0xCA, 0x06, 0xFF, 0xFF}},
        {65536, {0xBA, 0xCA, 0x06, 0x00, 0x00, 0x01}},
        {16777216, {0xCA, 0xCA, 0x06, 0x00, 0x00, 0x00, 0x01}},
    };
    for (const auto &tc : cases) {
        SCOPED_TRACE(tc.len);
        bytes value(tc.len);
        for (size_t i = 0; i < tc.len; ++i)
            value[i] = static_cast<uint8_t>(i * 7);
        bytes buf(tc.len + 7);
        vabo_context c;
        vabo_context_init(&c, buf.data(), buf.size());
        ASSERT_EQ(vabo_encode_bytes(&c, LN_TIRVO_SOURCE_NAME, value.data(), value.size()), 0);
        ASSERT_EQ(c.position, tc.header.size() + tc.len);
        EXPECT_EQ(bytes(buf.begin(), buf.begin() + tc.header.size()), tc.header);
        EXPECT_TRUE(std::equal(value.begin(), value.end(), buf.begin() + tc.header.size()));

        vabo_value v;
        size_t end = 0;
        ASSERT_EQ(vabo_decode_field(buf.data(), c.position, &v, &end), 0);
        EXPECT_EQ(end, c.position);
        EXPECT_EQ(v.data, buf.data() + tc.header.size());
        EXPECT_EQ(v.len, tc.len);
    }
}

TEST(VaboField, EncodedSizeIsAnUpperBound) {
    struct {
        uint32_t id;
        size_t len;
        size_t size;
    } const cases[] = {
        {13000, 0, 7},         // 3 id bytes + 4
        {13000, 99, 7},        // the length only counts for byte strings
        {13041, 0, 4},         // 3 + 1
        {13002, 0, 3},         // empty string
        {13002, 8, 11},        // short form
        {13002, 9, 13},        // one length byte
        {13002, 300, 305},     // two length bytes
        {13002, 65536, 65542}, // three length bytes
        {100, 0, 10},          // unknown id: 2 id bytes, at least 8
        {100, 20, 23},         // unknown id with a longer length
        {12999, 0, 11},        // unknown long id
    };
    for (const auto &tc : cases)
        EXPECT_EQ(vabo_encoded_size(tc.id, tc.len), tc.size) << tc.id << " " << tc.len;
}

// ---------------------------------------------------------------------------
// Records and nested fields

// One step of an encoding script.
struct step {
    char op;     // R begin record (kind = id), r end record, N begin nested, n end nested,
                 // i int32 field, b bool field
    uint32_t id; // field id or record kind
    int32_t v;   // value of i and b
};

struct script_case {
    const char *name;
    std::vector<step> steps;
    bytes encoding;
};

int run_step(vabo_context *c, const step &s) {
    switch (s.op) {
    case 'R':
        return vabo_begin_record(c, static_cast<uint8_t>(s.id));
    case 'r':
        return vabo_end_record(c);
    case 'N':
        return vabo_begin_nested(c, s.id);
    case 'n':
        return vabo_end_nested(c, s.id);
    case 'i':
        return vabo_encode_int32(c, s.id, s.v);
    default:
        return vabo_encode_bool(c, s.id, s.v != 0);
    }
}

const script_case script_cases[] = {
    {"empty record", {{'R', 1, 0}, {'r', 0, 0}}, {0x01, 0x00, 0x00, 0x00, 0x05}},
    {"record of 20 field bytes has length 25",
     {{'R', 3, 0},
      {'i', LN_TIRVO_SITUATION_SID, 1},
      {'i', LN_TIRVO_SITUATION_SID, 2},
      {'i', LN_TIRVO_SITUATION_SID, 3},
      {'i', LN_TIRVO_SITUATION_SID, 4},
      {'i', LN_TIRVO_SITUATION_SID, 5},
      {'r', 0, 0}},
     {0x03, 0x00, 0x00, 0x00, 0x19, 0x1A, 0xF0, 0x06, 0x01, 0x1A, 0xF0, 0x06, 0x02,
      0x1A, 0xF0, 0x06, 0x03, 0x1A, 0xF0, 0x06, 0x04, 0x1A, 0xF0, 0x06, 0x05}},
    {"two records in a row",
     {{'R', 2, 0},
      {'b', LN_TIRVO_VARIABLE_IS_SHARED, 1},
      {'r', 0, 0},
      {'R', 3, 0},
      {'i', LN_TIRVO_SITUATION_SID, 7},
      {'r', 0, 0}},
     {0x02, 0x00, 0x00, 0x00, 0x09, 0x1A, 0xD0, 0x06, 0x01, 0x03, 0x00, 0x00, 0x00, 0x09, 0x1A,
      0xF0, 0x06, 0x07}},
    {"empty nested field",
     {{'N', LN_TIRVO_COUNT_RANGE, 0}, {'n', LN_TIRVO_COUNT_RANGE, 0}},
     {0x0A, 0xE5, 0x06}},
    // 5 inner bytes: a 3-byte header right before them, the 4 spare bytes gone.
    {"nested field of 5 bytes",
     {{'N', LN_TIRVO_LOCATION, 0},
      {'i', LN_TIRVO_LOCATION_FIRST_LINE, 300},
      {'n', LN_TIRVO_LOCATION, 0}},
     {0x5A, 0xD7, 0x06, 0x2A, 0xD8, 0x06, 0x2C, 0x01}},
    {"nested field of 16 bytes takes one length byte",
     {{'N', LN_TIRVO_LOCATION, 0},
      {'i', LN_TIRVO_LOCATION_FIRST_LINE, 1},
      {'i', LN_TIRVO_LOCATION_FIRST_COLUMN, 2},
      {'i', LN_TIRVO_LOCATION_LAST_LINE, 3},
      {'i', LN_TIRVO_LOCATION_LAST_COLUMN, 40},
      {'n', LN_TIRVO_LOCATION, 0}},
     {0x9A, 0xD7, 0x06, 0x10, 0x1A, 0xD8, 0x06, 0x01, 0x1A, 0xD9,
      0x06, 0x02, 0x1A, 0xDA, 0x06, 0x03, 0x1A, 0xDB, 0x06, 0x28}},
    {"nested field inside a nested field",
     {{'N', LN_TIRVO_BYC_RELOC, 0},
      {'i', LN_TIRVO_BYC_RELOC_TYPE, 3},
      {'N', LN_TIRVO_COUNT_RANGE, 0},
      {'i', LN_TIRVO_COUNT_RANGE_START, 1},
      {'n', LN_TIRVO_COUNT_RANGE, 0},
      {'n', LN_TIRVO_BYC_RELOC, 0}},
     {0x9A, 0xD4, 0x06, 0x0B, 0x1A, 0xD6, 0x06, 0x03, 0x4A, 0xE5, 0x06, 0x1A, 0xE2, 0x06, 0x01}},
    {"record with a nested location",
     {{'R', 4, 0},
      {'i', LN_TIRVO_BYC_ID, 0},
      {'N', LN_TIRVO_LOCATION, 0},
      {'i', LN_TIRVO_LOCATION_FIRST_LINE, 1},
      {'i', LN_TIRVO_LOCATION_FIRST_COLUMN, 2},
      {'i', LN_TIRVO_LOCATION_LAST_LINE, 3},
      {'i', LN_TIRVO_LOCATION_LAST_COLUMN, 40},
      {'n', LN_TIRVO_LOCATION, 0},
      {'r', 0, 0}},
     {0x04, 0x00, 0x00, 0x00, 0x1C, 0x0A, 0xD2, 0x06, 0x9A, 0xD7, 0x06, 0x10, 0x1A, 0xD8,
      0x06, 0x01, 0x1A, 0xD9, 0x06, 0x02, 0x1A, 0xDA, 0x06, 0x03, 0x1A, 0xDB, 0x06, 0x28}},
};

TEST(VaboRecord, ScriptsEncodeToTheExactBytes) {
    for (const script_case &sc : script_cases) {
        SCOPED_TRACE(sc.name);
        uint8_t buf[128];
        vabo_context c;
        vabo_context_init(&c, buf, sizeof buf);
        for (const step &s : sc.steps)
            ASSERT_EQ(run_step(&c, s), 0) << s.op << " " << s.id;
        EXPECT_EQ(written(c), sc.encoding);
        EXPECT_EQ(c.record_start, -1);
        EXPECT_EQ(c.nesting_depth, 0);
        EXPECT_EQ(c.error, 0);
    }
}

// A nested field of more than 255 bytes gets two length bytes; the inner
// field moves down by the 2 reserved bytes that the header does not need.
TEST(VaboRecord, LongNestedField) {
    bytes name(300, 'z');
    uint8_t buf[400];
    vabo_context c;
    vabo_context_init(&c, buf, sizeof buf);
    ASSERT_EQ(vabo_begin_nested(&c, LN_TIRVO_LOCATION), 0);
    ASSERT_EQ(vabo_encode_bytes(&c, LN_TIRVO_SOURCE_NAME, name.data(), name.size()), 0);
    ASSERT_EQ(vabo_end_nested(&c, LN_TIRVO_LOCATION), 0);
    // inner: AA CA 06 2C 01 + 300 bytes = 305 = 0x131 bytes
    bytes want = concat({0xAA, 0xD7, 0x06, 0x31, 0x01, 0xAA, 0xCA, 0x06, 0x2C, 0x01}, name);
    EXPECT_EQ(written(c), want);
}

TEST(VaboRecord, RecordHeaderDecoding) {
    struct {
        bytes in;
        int rc;
        uint8_t kind;
        uint32_t length;
    } const cases[] = {
        {{}, VABO_ERR_SHORT, 0, 0},
        {{0x01, 0x00, 0x00, 0x00}, VABO_ERR_SHORT, 0, 0},
        {{0x01, 0x00, 0x00, 0x00, 0x00}, VABO_ERR_INVALID, 0, 0},
        {{0x01, 0x00, 0x00, 0x00, 0x04}, VABO_ERR_INVALID, 0, 0},
        {{0x01, 0x00, 0x00, 0x00, 0x05}, 0, 1, 5},
        {{0x06, 0x01, 0x02, 0x03, 0x04, 0xAA}, 0, 6, 0x01020304},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0, 0xFF, 0xFFFFFFFF},
    };
    for (const auto &tc : cases) {
        bytes in = tc.in; // exactly sized, so that a read past the end shows
        uint8_t kind = 0;
        uint32_t length = 0;
        EXPECT_EQ(vabo_decode_record_header(in.data(), in.size(), &kind, &length), tc.rc);
        EXPECT_EQ(kind, tc.kind);
        EXPECT_EQ(length, tc.length);
    }
}

// ---------------------------------------------------------------------------
// Encoder errors

// Every type needs a fixed room beyond the position, whatever its value.
TEST(VaboEncodeErrors, ShortBufferAtTheReserveBoundary) {
    struct {
        vabo_type type;
        size_t len; // byte string length
        size_t reserve;
    } const cases[] = {
        {vabo_type_int32, 0, 7},    {vabo_type_float, 0, 7},     {vabo_type_ipv4_host, 0, 7},
        {vabo_type_ipv4_net, 0, 7}, {vabo_type_bool, 0, 4},      {vabo_type_mac, 0, 9},
        {vabo_type_int64, 0, 11},   {vabo_type_double, 0, 11},   {vabo_type_bytes, 0, 7},
        {vabo_type_bytes, 5, 12},   {vabo_type_bytes, 300, 307},
    };
    for (const auto &tc : cases) {
        for (size_t prefix : {0u, 5u}) {
            SCOPED_TRACE(testing::Message()
                         << "type " << int(tc.type) << " len " << tc.len << " prefix " << prefix);
            bytes str(tc.len, 'q');
            for (size_t size : {prefix + tc.reserve - 1, prefix + tc.reserve}) {
                bytes buf(size, 0xEE);
                vabo_context c;
                vabo_context_init(&c, buf.data(), buf.size());
                if (prefix > 0) {
                    ASSERT_EQ(vabo_begin_record(&c, 9), 0);
                }
                int rc = encode_bits(&c, 13000, tc.type, 1, str);
                if (size < prefix + tc.reserve) {
                    EXPECT_EQ(rc, VABO_ERR_SHORT);
                    EXPECT_EQ(c.error, VABO_ERR_SHORT);
                    EXPECT_EQ(c.position, prefix);
                    for (size_t i = prefix; i < size; ++i)
                        ASSERT_EQ(buf[i], 0xEE) << "byte " << i << " written";
                } else {
                    EXPECT_EQ(rc, 0);
                    EXPECT_EQ(c.error, 0);
                    EXPECT_GT(c.position, prefix);
                }
            }
        }
    }
}

TEST(VaboEncodeErrors, InvalidRequests) {
    uint8_t buf[64];
    vabo_context c;
    int32_t one = 1;
    uint64_t wide_mac = 0x1000000000000;
    struct {
        const char *name;
        int (*op)(vabo_context *c, const void *arg);
        const void *arg;
    } const cases[] = {
        {"unknown id 12999",
         [](vabo_context *c, const void *a) { return vabo_encode_field(c, 12999, a, 0); }, &one},
        {"unknown id 13045",
         [](vabo_context *c, const void *a) { return vabo_encode_field(c, 13045, a, 0); }, &one},
        {"unknown id 0",
         [](vabo_context *c, const void *a) { return vabo_encode_field(c, 0, a, 0); }, &one},
        {"record type",
         [](vabo_context *c, const void *a) {
             return vabo_encode_typed_field(c, 1, vabo_type_record, a, 0);
         },
         &one},
        {"type 0",
         [](vabo_context *c, const void *a) {
             return vabo_encode_typed_field(c, 1, vabo_type_unknown, a, 0);
         },
         &one},
        {"null value",
         [](vabo_context *c, const void *) { return vabo_encode_field(c, 13000, nullptr, 0); },
         nullptr},
        {"null string with a length",
         [](vabo_context *c, const void *) { return vabo_encode_field(c, 13002, nullptr, 1); },
         nullptr},
        {"hardware address above 48 bits",
         [](vabo_context *c, const void *a) {
             return vabo_encode_typed_field(c, 1, vabo_type_mac, a, 0);
         },
         &wide_mac},
        // Rejected on the length alone; the 4 bytes behind `one` are never read.
        {"string of 2^32 bytes",
         [](vabo_context *c, const void *a) {
             return vabo_encode_field(c, 13002, a, size_t{1} << 32);
         },
         &one},
        {"int32 shorthand on a bool id",
         [](vabo_context *c, const void *) { return vabo_encode_int32(c, 13041, 1); }, nullptr},
        {"bool shorthand on an int id",
         [](vabo_context *c, const void *) { return vabo_encode_bool(c, 13000, true); }, nullptr},
        {"bytes shorthand on an int id",
         [](vabo_context *c, const void *) { return vabo_encode_bytes(c, 13000, "", 0); }, nullptr},
        {"end record without a record",
         [](vabo_context *c, const void *) { return vabo_end_record(c); }, nullptr},
        {"record inside a record",
         [](vabo_context *c, const void *) {
             vabo_begin_record(c, 1);
             return vabo_begin_record(c, 2);
         },
         nullptr},
        {"record inside a nested field",
         [](vabo_context *c, const void *) {
             vabo_begin_nested(c, 13015);
             return vabo_begin_record(c, 2);
         },
         nullptr},
        {"end record with a nested field open",
         [](vabo_context *c, const void *) {
             vabo_begin_record(c, 1);
             vabo_begin_nested(c, 13015);
             return vabo_end_record(c);
         },
         nullptr},
        {"nested field with an int id",
         [](vabo_context *c, const void *) { return vabo_begin_nested(c, 13000); }, nullptr},
        {"nested field with an unknown id",
         [](vabo_context *c, const void *) { return vabo_begin_nested(c, 7); }, nullptr},
        {"end nested without one open",
         [](vabo_context *c, const void *) { return vabo_end_nested(c, 13015); }, nullptr},
        {"end nested with another id",
         [](vabo_context *c, const void *) {
             vabo_begin_nested(c, 13015);
             return vabo_end_nested(c, 13012);
         },
         nullptr},
        {"nesting too deep",
         [](vabo_context *c, const void *) {
             for (int i = 0; i < VABO_MAX_NESTING; ++i)
                 vabo_begin_nested(c, 13015);
             return vabo_begin_nested(c, 13015);
         },
         nullptr},
    };
    for (const auto &tc : cases) {
        SCOPED_TRACE(tc.name);
        vabo_context_init(&c, buf, sizeof buf);
        EXPECT_EQ(tc.op(&c, tc.arg), VABO_ERR_INVALID);
        EXPECT_EQ(c.error, VABO_ERR_INVALID);
        // A failed field leaves the position where it was.
        if (c.record_start < 0 && c.nesting_depth == 0) {
            EXPECT_EQ(c.position, 0u);
        }
    }
}

TEST(VaboEncodeErrors, ShortBufferForRecordsAndNestedFields) {
    uint8_t buf[16];
    vabo_context c;
    vabo_context_init(&c, buf, 4);
    EXPECT_EQ(vabo_begin_record(&c, 1), VABO_ERR_SHORT);
    EXPECT_EQ(c.record_start, -1);
    vabo_context_init(&c, buf, 5);
    EXPECT_EQ(vabo_begin_record(&c, 1), 0);
    vabo_context_init(&c, buf, 6);
    EXPECT_EQ(vabo_begin_nested(&c, LN_TIRVO_LOCATION), VABO_ERR_SHORT);
    EXPECT_EQ(c.nesting_depth, 0);
    vabo_context_init(&c, buf, 7);
    EXPECT_EQ(vabo_begin_nested(&c, LN_TIRVO_LOCATION), 0);
    // The reserve of the inner field counts from behind the reserved header.
    EXPECT_EQ(vabo_encode_int32(&c, LN_TIRVO_LOCATION_FIRST_LINE, 0), VABO_ERR_SHORT);
    EXPECT_EQ(vabo_end_nested(&c, LN_TIRVO_LOCATION), 0);
    EXPECT_EQ(written(c), (bytes{0x0A, 0xD7, 0x06}));
}

TEST(VaboEncodeErrors, FirstErrorIsKept) {
    uint8_t buf[8];
    vabo_context c;
    vabo_context_init(&c, buf, sizeof buf);
    EXPECT_EQ(vabo_end_record(&c), VABO_ERR_INVALID);
    EXPECT_EQ(vabo_encode_bytes(&c, LN_TIRVO_SOURCE_NAME, "0123456789", 10), VABO_ERR_SHORT);
    EXPECT_EQ(c.error, VABO_ERR_INVALID);
    // Later fields that fit still go in; the caller sees the kept error.
    EXPECT_EQ(vabo_encode_int32(&c, LN_TIRVO_VERSION, 1), 0);
    EXPECT_EQ(c.error, VABO_ERR_INVALID);
}

TEST(VaboEncodeErrorsDeathTest, IdOf2To19Asserts) {
    uint8_t buf[64];
    vabo_context c;
    vabo_context_init(&c, buf, sizeof buf);
    int32_t v = 1;
    EXPECT_DEATH(vabo_encode_typed_field(&c, 524288, vabo_type_int32, &v, 0),
                 "vabo: assertion failed: id < \\(1 << 19\\)");
    EXPECT_DEATH(vabo_encode_field(&c, 0xFFFFFFFF, &v, 0),
                 "vabo: assertion failed: id < \\(1 << 19\\)");
    EXPECT_DEATH(vabo_begin_nested(&c, 524288), "vabo: assertion failed: id < \\(1 << 19\\)");
}

// ---------------------------------------------------------------------------
// Decoder errors on truncated and malformed input

TEST(VaboDecodeErrors, TruncatedAndMalformedFields) {
    struct {
        const char *name;
        bytes in;
        int rc;
    } const cases[] = {
        {"nothing", {}, VABO_ERR_SHORT},
        {"one byte of a short id", {0x00}, VABO_ERR_SHORT},
        {"one byte of a long id", {0x0A}, VABO_ERR_SHORT},
        {"third id byte missing", {0x0A, 0xC8}, VABO_ERR_SHORT},
        {"length byte missing", {0x9A, 0xCA, 0x06}, VABO_ERR_SHORT},
        {"one of 4 length bytes missing", {0xCA, 0xCA, 0x06, 0x01, 0x02, 0x03}, VABO_ERR_SHORT},
        {"5 length bytes", {0xDA, 0xCA, 0x06, 0x01, 0x00, 0x00, 0x00, 0x00, 'x'}, VABO_ERR_INVALID},
        {"6 length bytes", {0xEA, 0xCA, 0x06, 0x01, 0, 0, 0, 0, 0, 'x'}, VABO_ERR_INVALID},
        {"7 length bytes", {0xFA, 0xCA, 0x06, 0x01, 0, 0, 0, 0, 0, 0, 'x'}, VABO_ERR_INVALID},
        {"5 length bytes, none there", {0xDA, 0xCA, 0x06}, VABO_ERR_INVALID},
        {"5 length bytes, id cut", {0xDA, 0xCA}, VABO_ERR_SHORT},
        {"value cut", {0x2A, 0xC8, 0x06, 0x2C}, VABO_ERR_SHORT},
        {"short value cut", {0x8A, 0xCA, 0x06, 'a', 'b', 'c', 'd', 'e', 'f', 'g'}, VABO_ERR_SHORT},
        {"long value cut", {0x9A, 0xCA, 0x06, 0x05, 'a', 'b'}, VABO_ERR_SHORT},
        {"length of 4 GiB", {0xCA, 0xCA, 0x06, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}, VABO_ERR_SHORT},
        {"unknown id 12999", {0x0A, 0xC7, 0x06}, VABO_ERR_INVALID},
        {"unknown id 13045", {0x0A, 0xF5, 0x06}, VABO_ERR_INVALID},
        {"unknown id 0", {0x00, 0x00}, VABO_ERR_INVALID},
        {"int32 of 5 bytes", {0x5A, 0xC8, 0x06, 1, 2, 3, 4, 5}, VABO_ERR_INVALID},
        {"bool of 5 bytes", {0x5A, 0xF1, 0x06, 0, 0, 0, 0, 1}, VABO_ERR_INVALID},
        {"int32 of 9 bytes, long form",
         {0x9A, 0xC8, 0x06, 0x09, 1, 2, 3, 4, 5, 6, 7, 8, 9},
         VABO_ERR_INVALID},
    };
    for (const auto &tc : cases) {
        SCOPED_TRACE(tc.name);
        bytes in = tc.in;
        vabo_value v;
        size_t end = 12345;
        EXPECT_EQ(vabo_decode_field(in.data(), in.size(), &v, &end), tc.rc);
        EXPECT_EQ(end, 12345u);
    }
}

// Encodings the encoder never makes but that are unambiguous are read.
TEST(VaboDecodeErrors, LenientButSafeForms) {
    struct {
        const char *name;
        bytes in;
        uint64_t value;
    } const cases[] = {
        {"long form for 4 bytes", {0x9A, 0xC8, 0x06, 0x04, 1, 2, 3, 4}, 0x04030201},
        {"long form with a padded length", {0xAA, 0xC8, 0x06, 0x01, 0x00, 7}, 7},
        {"trailing zero value byte", {0x2A, 0xC8, 0x06, 0x05, 0x00}, 5},
        {"bool of two bytes", {0x2A, 0xF1, 0x06, 0x00, 0x01}, 1},
        {"bool of one zero byte", {0x1A, 0xF1, 0x06, 0x00}, 0},
    };
    for (const auto &tc : cases) {
        SCOPED_TRACE(tc.name);
        bytes in = tc.in;
        vabo_value v;
        size_t end = 0;
        ASSERT_EQ(vabo_decode_field(in.data(), in.size(), &v, &end), 0);
        EXPECT_EQ(end, in.size());
        if (v.type == vabo_type_bool)
            EXPECT_EQ(v.boolean, tc.value != 0);
        else
            EXPECT_EQ(static_cast<uint32_t>(v.i32), tc.value);
    }
}

TEST(VaboDecodeErrors, ValueLongerThanItsType) {
    struct {
        vabo_type type;
        size_t max;
    } const cases[] = {
        {vabo_type_int32, 4},     {vabo_type_bool, 4},     {vabo_type_float, 4},
        {vabo_type_ipv4_host, 4}, {vabo_type_ipv4_net, 4}, {vabo_type_int64, 8},
        {vabo_type_double, 8},    {vabo_type_mac, 6},
    };
    const uint8_t data[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    for (const auto &tc : cases) {
        vabo_value v;
        EXPECT_EQ(vabo_decode_value(1, tc.type, data, tc.max, &v), 0) << int(tc.type);
        EXPECT_EQ(vabo_decode_value(1, tc.type, data, tc.max + 1, &v), VABO_ERR_INVALID)
            << int(tc.type);
    }
    vabo_value v;
    EXPECT_EQ(vabo_decode_value(1, vabo_type_unknown, data, 0, &v), VABO_ERR_INVALID);
    EXPECT_EQ(vabo_decode_value(1, static_cast<vabo_type>(11), data, 0, &v), VABO_ERR_INVALID);
    // A record decodes to its raw bytes only.
    EXPECT_EQ(vabo_decode_value(1, vabo_type_record, data, 9, &v), 0);
    EXPECT_EQ(v.len, 9u);
}

// Short address values read with the missing bytes as trailing zeros.
TEST(VaboDecodeErrors, ShortAddressesFillTrailingBytes) {
    const uint8_t data[2] = {0x0A, 0x01};
    vabo_value v;
    ASSERT_EQ(vabo_decode_value(1, vabo_type_ipv4_host, data, 2, &v), 0);
    EXPECT_EQ(v.u32, 0x0A010000u);
    ASSERT_EQ(vabo_decode_value(1, vabo_type_ipv4_net, data, 2, &v), 0);
    EXPECT_EQ(v.u32, net_order(0x0A010000));
}

// ---------------------------------------------------------------------------
// Field cursors

// A program record's fields: 13010 = 0, 13015 {13016 = 1, 13017 = 2,
// 13018 = 3, 13019 = 40}, 13011 "ab", 13045 (unknown) = 1, 13036 = 16.
const bytes program_fields = {
    0x0A, 0xD2, 0x06,                                     // 13010
    0x9A, 0xD7, 0x06, 0x10, 0x1A, 0xD8, 0x06, 0x01, 0x1A, // 13015
    0xD9, 0x06, 0x02, 0x1A, 0xDA, 0x06, 0x03, 0x1A, 0xDB,
    0x06, 0x28, 0x2A, 0xD3, 0x06, 'a',  'b', // 13011
    0x1A, 0xF5, 0x06, 0x01,                  // 13045
    0x1A, 0xEC, 0x06, 0x10,                  // 13036
};

TEST(VaboIter, NextFieldWalksAndStopsAtUnknownIds) {
    bytes in = program_fields;
    vabo_iter it;
    vabo_iter_init(&it, in.data(), in.size());
    vabo_value v;
    ASSERT_EQ(vabo_next_field(&it, &v), 0);
    EXPECT_EQ(v.id, LN_TIRVO_BYC_ID);
    EXPECT_EQ(v.i32, 0);
    ASSERT_EQ(vabo_next_field(&it, &v), 0);
    EXPECT_EQ(v.id, LN_TIRVO_LOCATION);
    ASSERT_EQ(v.len, 16u);

    // The nested value is a field sequence of its own.
    vabo_iter inner;
    vabo_iter_init(&inner, v.data, v.len);
    const int32_t want[] = {1, 2, 3, 40};
    for (uint32_t i = 0; i < 4; ++i) {
        vabo_value iv;
        ASSERT_EQ(vabo_next_field(&inner, &iv), 0);
        EXPECT_EQ(iv.id, LN_TIRVO_LOCATION_FIRST_LINE + i);
        EXPECT_EQ(iv.i32, want[i]);
    }
    vabo_value iv;
    EXPECT_EQ(vabo_next_field(&inner, &iv), VABO_ERR_SHORT);
    EXPECT_EQ(inner.error, VABO_ERR_SHORT);

    ASSERT_EQ(vabo_next_field(&it, &v), 0);
    EXPECT_EQ(v.id, LN_TIRVO_BYC);
    EXPECT_EQ(bytes(v.data, v.data + v.len), str_bytes("ab"));
    const uint8_t *at_unknown = it.cursor;
    EXPECT_EQ(vabo_next_field(&it, &v), VABO_ERR_INVALID);
    EXPECT_EQ(it.cursor, at_unknown);
    EXPECT_EQ(it.error, VABO_ERR_INVALID);
}

TEST(VaboIter, FindSkipsOtherFieldsAndMovesOnlyForward) {
    bytes in = program_fields;
    vabo_iter it;
    vabo_iter_init(&it, in.data(), in.size());
    vabo_value v;
    // Neither 13015 nor 13011 is first; 13015 comes before 13011.
    const uint32_t loc_or_code[] = {LN_TIRVO_BYC, LN_TIRVO_LOCATION};
    ASSERT_EQ(vabo_find_field(&it, loc_or_code, 2, &v), 0);
    EXPECT_EQ(v.id, LN_TIRVO_LOCATION);
    ASSERT_EQ(vabo_find_field(&it, loc_or_code, 2, &v), 0);
    EXPECT_EQ(v.id, LN_TIRVO_BYC);
    // 13036 lies behind the unknown 13045, which is skipped by its header.
    const uint32_t stack = LN_TIRVO_BYC_REQUIRED_STACK_SIZE;
    ASSERT_EQ(vabo_find_field(&it, &stack, 1, &v), 0);
    EXPECT_EQ(v.i32, 16);
    EXPECT_EQ(it.cursor, it.end);
    EXPECT_EQ(it.error, 0);
    // What was skipped is gone.
    const uint32_t id = LN_TIRVO_BYC_ID;
    EXPECT_EQ(vabo_find_field(&it, &id, 1, &v), VABO_ERR_SHORT);
    EXPECT_EQ(it.error, VABO_ERR_SHORT);
}

TEST(VaboIter, FindFailures) {
    struct {
        const char *name;
        bytes in;
        uint32_t id;
        int rc;
        size_t stop; // where the cursor stays
    } const cases[] = {
        {"empty", {}, 13000, VABO_ERR_SHORT, 0},
        {"id absent", {0x0A, 0xD2, 0x06, 0x1A, 0xF0, 0x06, 0x01}, 13000, VABO_ERR_SHORT, 7},
        {"header cut while skipping", {0x0A, 0xD2, 0x06, 0x1A, 0xF0}, 13000, VABO_ERR_SHORT, 3},
        {"value cut while skipping",
         {0x0A, 0xD2, 0x06, 0x2A, 0xF0, 0x06, 1},
         13000,
         VABO_ERR_SHORT,
         3},
        {"bad length code while skipping",
         {0x0A, 0xD2, 0x06, 0xDA, 0xF0, 0x06},
         13000,
         VABO_ERR_INVALID,
         3},
        {"found value too long",
         {0x0A, 0xD2, 0x06, 0x5A, 0xC8, 0x06, 1, 2, 3, 4, 5},
         13000,
         VABO_ERR_INVALID,
         3},
    };
    for (const auto &tc : cases) {
        SCOPED_TRACE(tc.name);
        bytes in = tc.in;
        vabo_iter it;
        vabo_iter_init(&it, in.data(), in.size());
        vabo_value v;
        EXPECT_EQ(vabo_find_field(&it, &tc.id, 1, &v), tc.rc);
        EXPECT_EQ(it.error, tc.rc);
        EXPECT_EQ(static_cast<size_t>(it.cursor - it.start), tc.stop);
    }
}

// ---------------------------------------------------------------------------
// Text forms

vabo_value make_value(vabo_type type) {
    vabo_value v{};
    v.type = type;
    return v;
}

TEST(VaboText, TextFormOfEveryType) {
    const uint8_t raw[] = {0x00, 0x01, 0x0A, 0x1F, 0x7F, 0x80, 0xFF};
    const char *plain = "a\\b ~";
    struct {
        vabo_value v;
        const char *text;
    } cases[] = {
        {make_value(vabo_type_int32), "-1"},
        {make_value(vabo_type_int32), "2147483647"},
        {make_value(vabo_type_int32), "-2147483648"},
        {make_value(vabo_type_int64), "-9223372036854775808"},
        {make_value(vabo_type_int64), "1234567890123"},
        {make_value(vabo_type_bool), "TRUE"},
        {make_value(vabo_type_bool), "FALSE"},
        {make_value(vabo_type_float), "1.500000"},
        {make_value(vabo_type_float), "-0.100000"},
        {make_value(vabo_type_double), "3.250000"},
        {make_value(vabo_type_double), "100000000000000000000.000000"},
        {make_value(vabo_type_ipv4_host), "192.168.1.1"},
        {make_value(vabo_type_ipv4_host), "0.0.0.0"},
        {make_value(vabo_type_ipv4_net), "10.0.0.255"},
        {make_value(vabo_type_mac), "0:11:22:33:44:ab"},
        {make_value(vabo_type_mac), "ff:ff:ff:ff:ff:ff"},
        {make_value(vabo_type_bytes), "a\\\\b ~"},
        {make_value(vabo_type_bytes), "\\x0\\x1\\xa\\x1f\\x7f\\x80\\xff"},
        {make_value(vabo_type_bytes), ""},
    };
    cases[0].v.i32 = -1;
    cases[1].v.i32 = INT32_MAX;
    cases[2].v.i32 = INT32_MIN;
    cases[3].v.i64 = INT64_MIN;
    cases[4].v.i64 = 1234567890123;
    cases[5].v.boolean = true;
    cases[6].v.boolean = false;
    cases[7].v.f32 = 1.5f;
    cases[8].v.f32 = -0.1f;
    cases[9].v.f64 = 3.25;
    cases[10].v.f64 = 1e20;
    cases[11].v.u32 = 0xC0A80101;
    cases[12].v.u32 = 0;
    cases[13].v.u32 = net_order(0x0A0000FF);
    cases[14].v.u64 = 0x0011223344AB;
    cases[15].v.u64 = 0xFFFFFFFFFFFF;
    cases[16].v.data = reinterpret_cast<const uint8_t *>(plain);
    cases[16].v.len = std::strlen(plain);
    cases[17].v.data = raw;
    cases[17].v.len = sizeof raw;
    for (const auto &tc : cases) {
        char buf[64];
        EXPECT_EQ(vabo_value_to_text(buf, sizeof buf, &tc.v),
                  static_cast<ptrdiff_t>(std::strlen(tc.text)))
            << tc.text;
        EXPECT_STREQ(buf, tc.text);
    }
}

TEST(VaboText, LargestDoubles) {
    vabo_value v = make_value(vabo_type_double);
    char buf[400];
    v.f64 = DBL_MAX; // 309 integer digits, the point and 6 decimals
    EXPECT_EQ(vabo_value_to_text(buf, sizeof buf, &v), 316);
    v.f64 = -DBL_MAX;
    EXPECT_EQ(vabo_value_to_text(buf, sizeof buf, &v), 317);
    EXPECT_EQ(std::strncmp(buf, "-17976931348623157", 18), 0);
}

TEST(VaboText, CutTextStaysTerminated) {
    vabo_value num = make_value(vabo_type_int32);
    num.i32 = 300;
    const uint8_t one = 0x01;
    vabo_value str = make_value(vabo_type_bytes);
    str.data = &one;
    str.len = 1;
    struct {
        const vabo_value *v;
        size_t size;
        ptrdiff_t rc;
        const char *text;
    } const cases[] = {
        {&num, 4, 3, "300"},  {&num, 3, VABO_ERR_SHORT, "30"},  {&num, 1, VABO_ERR_SHORT, ""},
        {&str, 4, 3, "\\x1"}, {&str, 3, VABO_ERR_SHORT, "\\x"},
    };
    for (const auto &tc : cases) {
        SCOPED_TRACE(tc.text);
        std::vector<char> buf(tc.size, 'X');
        EXPECT_EQ(vabo_value_to_text(buf.data(), buf.size(), tc.v), tc.rc);
        EXPECT_STREQ(buf.data(), tc.text);
    }
    char untouched = 'X';
    EXPECT_EQ(vabo_value_to_text(&untouched, 0, &num), VABO_ERR_SHORT);
    EXPECT_EQ(untouched, 'X');
}

TEST(VaboText, TypesWithoutText) {
    char buf[16];
    for (vabo_type t : {vabo_type_record, vabo_type_unknown, static_cast<vabo_type>(11)}) {
        vabo_value v = make_value(t);
        EXPECT_EQ(vabo_value_to_text(buf, sizeof buf, &v), VABO_ERR_INVALID) << int(t);
    }
}

// ---------------------------------------------------------------------------
// Randomized round trips and hostile input

// A generated field: a plain value, or a nested field holding more fields.
struct gen_field {
    uint32_t id;
    vabo_type type;
    uint64_t bits;
    bytes str;
    std::vector<gen_field> inner; // for a nested field
    bool nested;
};

const uint32_t table_ids_by_type[4][8] = {
    {},
    {13000, 13001, 13010, 13022, 13024, 13040, 13043, 13044},
    {},
    {13008, 13031, 13033, 13041, 13008, 13031, 13033, 13041},
};
const uint32_t string_ids[] = {13002, 13006, 13011, 13012, 13015, 13023, 13029, 13038};

struct generator {
    std::mt19937_64 rng;

    uint64_t below(uint64_t n) { return rng() % n; }

    // A value of a random number of significant bytes, with zero bytes at
    // either end now and then.
    uint64_t bits_of_width(unsigned width_bits) {
        uint64_t v = below(8) == 0 ? 0 : rng() >> below(64);
        if (width_bits < 64)
            v &= (uint64_t{1} << width_bits) - 1;
        if (below(4) == 0)
            v <<= 8 * below(4);
        if (width_bits < 64)
            v &= (uint64_t{1} << width_bits) - 1;
        return v;
    }

    uint32_t random_id() {
        switch (below(3)) {
        case 0:
            return static_cast<uint32_t>(below(VABO_LONG_ID_MIN));
        case 1:
            return static_cast<uint32_t>(below(VABO_ID_LIMIT));
        default:
            return static_cast<uint32_t>(VABO_ID_LIMIT - 1 - below(4));
        }
    }

    gen_field field(int depth) {
        gen_field f{};
        if (depth < 3 && below(8) == 0) {
            f.nested = true;
            f.type = vabo_type_bytes;
            f.id = string_ids[below(8)];
            size_t n = below(5);
            for (size_t i = 0; i < n; ++i)
                f.inner.push_back(field(depth + 1));
            return f;
        }
        f.type = static_cast<vabo_type>(1 + below(9));
        f.id = random_id();
        if ((f.type == vabo_type_int32 || f.type == vabo_type_bool) && below(2) == 0)
            f.id = table_ids_by_type[f.type][below(8)];
        if (f.type == vabo_type_bytes && below(2) == 0)
            f.id = string_ids[below(8)];
        switch (f.type) {
        case vabo_type_int32:
        case vabo_type_float:
        case vabo_type_ipv4_host:
        case vabo_type_ipv4_net:
            f.bits = bits_of_width(32);
            break;
        case vabo_type_bool:
            f.bits = below(2);
            break;
        case vabo_type_mac:
            f.bits = bits_of_width(48);
            break;
        case vabo_type_bytes: {
            size_t n = below(4) == 0 ? below(600) : below(12);
            for (size_t i = 0; i < n; ++i)
                f.str.push_back(static_cast<uint8_t>(rng()));
            break;
        }
        default:
            f.bits = bits_of_width(64);
            break;
        }
        return f;
    }
};

void encode_gen(vabo_context *c, const gen_field &f) {
    if (f.nested) {
        ASSERT_EQ(vabo_begin_nested(c, f.id), 0);
        for (const gen_field &g : f.inner)
            encode_gen(c, g);
        ASSERT_EQ(vabo_end_nested(c, f.id), 0);
        return;
    }
    size_t before = c->position;
    ASSERT_EQ(encode_bits(c, f.id, f.type, f.bits, f.str), 0);
    if (vabo_field_type(f.id) == f.type) {
        EXPECT_LE(c->position - before, vabo_encoded_size(f.id, f.str.size()));
    }
}

// Decodes `fields` from the whole of data[0..len) by their known types.
void decode_gen(const uint8_t *data, size_t len, const std::vector<gen_field> &fields) {
    size_t pos = 0;
    for (const gen_field &f : fields) {
        vabo_header h;
        ASSERT_EQ(vabo_decode_header(data + pos, len - pos, &h), 0);
        vabo_value v;
        ASSERT_EQ(vabo_decode_value(h.id, f.type, data + pos + h.value_offset,
                                    h.end_offset - h.value_offset, &v),
                  0);
        if (f.nested) {
            EXPECT_EQ(v.id, f.id);
            decode_gen(v.data, v.len, f.inner);
        } else {
            expect_value(v, f.id, f.type, f.bits, f.str);
        }
        // Fields of the table decode the same way without their type.
        if (vabo_field_type(h.id) == f.type) {
            vabo_value tv;
            size_t end = 0;
            ASSERT_EQ(vabo_decode_field(data + pos, len - pos, &tv, &end), 0);
            EXPECT_EQ(end, h.end_offset);
            if (!f.nested) {
                expect_value(tv, f.id, f.type, f.bits, f.str);
            }
        }
        pos += h.end_offset;
    }
    EXPECT_EQ(pos, len);
}

TEST(VaboRandom, RoundTrips) {
    generator gen{std::mt19937_64(20240611)};
    bytes buf(1 << 20);
    for (int round = 0; round < 3000; ++round) {
        SCOPED_TRACE(round);
        std::vector<gen_field> fields;
        size_t n = gen.below(12);
        for (size_t i = 0; i < n; ++i)
            fields.push_back(gen.field(0));
        vabo_context c;
        vabo_context_init(&c, buf.data(), buf.size());
        uint8_t kind = static_cast<uint8_t>(gen.rng());
        ASSERT_EQ(vabo_begin_record(&c, kind), 0);
        for (const gen_field &f : fields)
            encode_gen(&c, f);
        ASSERT_EQ(vabo_end_record(&c), 0);
        ASSERT_EQ(c.error, 0);

        uint8_t got_kind;
        uint32_t length;
        ASSERT_EQ(vabo_decode_record_header(buf.data(), c.position, &got_kind, &length), 0);
        EXPECT_EQ(got_kind, kind);
        ASSERT_EQ(length, c.position);
        decode_gen(buf.data() + 5, length - 5, fields);
    }
}

// Every call on hostile bytes ends in a value inside the input or an error
// code. The input always sits in a heap block of exactly its size, so any
// read past its end is caught by the address sanitizer.
void check_hostile(const bytes &in, uint64_t salt) {
    const uint8_t *p = in.data();
    size_t n = in.size();
    auto inside = [&](const vabo_value &v) {
        if (v.len > 0) {
            ASSERT_GE(v.data, p);
            ASSERT_LE(v.len, n);
            ASSERT_LE(v.data + v.len, p + n);
        }
    };
    auto text = [&](const vabo_value &v) {
        std::vector<char> t(1 + salt % 24);
        ptrdiff_t rc = vabo_value_to_text(t.data(), t.size(), &v);
        ASSERT_TRUE(rc == VABO_ERR_SHORT || rc == VABO_ERR_INVALID ||
                    (rc >= 0 && static_cast<size_t>(rc) < t.size()));
        if (rc != VABO_ERR_INVALID) {
            ASSERT_LT(std::strlen(t.data()), t.size());
        }
    };

    vabo_header h;
    int rc = vabo_decode_header(p, n, &h);
    ASSERT_TRUE(rc == 0 || rc == VABO_ERR_SHORT || rc == VABO_ERR_INVALID);
    if (rc == 0) {
        ASSERT_GE(h.value_offset, 2u);
        ASSERT_LE(h.value_offset, h.end_offset);
        ASSERT_LE(h.end_offset, n);
        // Any type on the value bytes.
        vabo_value v;
        vabo_type t = static_cast<vabo_type>(salt % 12);
        int vr = vabo_decode_value(h.id, t, p + h.value_offset, h.end_offset - h.value_offset, &v);
        ASSERT_TRUE(vr == 0 || vr == VABO_ERR_INVALID);
        if (vr == 0) {
            inside(v);
            text(v);
        }
    }
    uint8_t kind;
    uint32_t length;
    rc = vabo_decode_record_header(p, n, &kind, &length);
    ASSERT_TRUE(rc == 0 || rc == VABO_ERR_SHORT || rc == VABO_ERR_INVALID);

    vabo_iter it;
    vabo_iter_init(&it, p, n);
    vabo_value v;
    while ((rc = vabo_next_field(&it, &v)) == 0) {
        inside(v);
        text(v);
        ASSERT_LE(it.cursor, it.end);
    }
    ASSERT_TRUE(rc == VABO_ERR_SHORT || rc == VABO_ERR_INVALID);
    ASSERT_EQ(it.error, rc);

    const uint32_t ids[] = {static_cast<uint32_t>(13000 + salt % 45), LN_TIRVO_SOURCE_NAME};
    vabo_iter_init(&it, p, n);
    while ((rc = vabo_find_field(&it, ids, 2, &v)) == 0) {
        inside(v);
        ASSERT_TRUE(v.id == ids[0] || v.id == ids[1]);
    }
    ASSERT_TRUE(rc == VABO_ERR_SHORT || rc == VABO_ERR_INVALID);
}

TEST(VaboRandom, RandomBytesNeverMisread) {
    std::mt19937_64 rng(77);
    for (int round = 0; round < 30000; ++round) {
        size_t n = rng() % 40;
        bytes in(n);
        for (size_t i = 0; i < n; ++i)
            in[i] = static_cast<uint8_t>(rng());
        // Steer some headers to the ids of the table.
        if (n >= 3 && rng() % 2 == 0) {
            in[0] = static_cast<uint8_t>((in[0] & 0xF0) | 0x0A);
            in[1] = static_cast<uint8_t>(0xC8 + rng() % 45);
            in[2] = 0x06;
        }
        SCOPED_TRACE(round);
        check_hostile(in, rng());
        if (HasFatalFailure())
            return;
    }
}

TEST(VaboRandom, TruncatedAndMutatedEncodings) {
    generator gen{std::mt19937_64(4242)};
    bytes buf(1 << 20);
    for (int round = 0; round < 1500; ++round) {
        SCOPED_TRACE(round);
        gen_field f = gen.field(0);
        vabo_context c;
        vabo_context_init(&c, buf.data(), buf.size());
        encode_gen(&c, f);
        bytes whole(buf.begin(), buf.begin() + c.position);

        // Every proper prefix of one field lacks bytes: -12 and nothing else.
        size_t step = whole.size() > 64 ? whole.size() / 32 : 1;
        for (size_t cut = 0; cut < whole.size(); cut += step) {
            bytes prefix(whole.begin(), whole.begin() + cut);
            vabo_header h;
            ASSERT_EQ(vabo_decode_header(prefix.data(), prefix.size(), &h), VABO_ERR_SHORT)
                << "cut at " << cut;
            check_hostile(prefix, gen.rng());
        }
        vabo_header h;
        ASSERT_EQ(vabo_decode_header(whole.data(), whole.size(), &h), 0);
        EXPECT_EQ(h.end_offset, whole.size());

        // Flipped bits and overwritten bytes anywhere.
        for (int m = 0; m < 8; ++m) {
            bytes bad = whole;
            size_t at = gen.below(bad.size());
            if (m % 2 == 0)
                bad[at] ^= static_cast<uint8_t>(1u << gen.below(8));
            else
                bad[at] = static_cast<uint8_t>(gen.rng());
            check_hostile(bad, gen.rng());
        }
        if (HasFatalFailure())
            return;
    }
}

} // namespace
