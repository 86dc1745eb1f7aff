// Self-describing binary record encoding.
//
// A fingerprint file is a stream of records; a record is a kind byte, a 32-bit
// total length (most significant byte first, counting the 5 bytes of kind and
// length) and a sequence of fields. A field is a header (the field id and a
// length code, plus up to 4 length bytes for values longer than 8 bytes)
// followed by the value bytes. The type of a field is a property of its id,
// looked up in one fixed table, so a field carries no type on the wire:
//
//   byte 0: bits 0-2 id bits 8-10, bit 3 long id, bits 4-7 length code L
//   byte 1: id bits 0-7
//   byte 2: id bits 11-18 (only with the long-id bit, for ids from 2048 up)
//   then for L >= 9: L - 8 bytes of value length, least significant first
//   then the value: L bytes for L <= 8, else the value length.
//
// Integers are stored least significant byte first without trailing zero
// bytes (0 is an empty value). A field of type byte string may itself hold a
// sequence of fields (a nested field).
//
// Encoding writes into a caller's buffer through a `vabo_context`; it never
// allocates, checks room before writing anything and keeps the first error in
// the context. Nested fields reserve the largest header (7 bytes), and when
// they are closed the real header is written and the inner fields are moved
// down behind it, so a nested field costs no second pass.
//
// Decoding reads untrusted bytes (the loader feeds it whatever a file holds):
// every header, length and value is checked against the bytes actually
// available before it is used, with no arithmetic that can overflow, and
// nothing is allocated; a decoded byte string points into the input. Bytes
// missing at the end give VABO_ERR_SHORT (-12), malformed data gives
// VABO_ERR_INVALID (-22); neither input ever reaches an assertion. Only
// misuse of the encoder by its program (a field id of 524288 or more) is an
// assertion failure.
//
// The generic operations take the type from the table; the typed variants
// (vabo_encode_typed_field, vabo_decode_value) take it from the caller, for
// the value types that no id of the table uses.
#ifndef TIRVO_LIB_VABO_PUBLIC_VABO_H
#define TIRVO_LIB_VABO_PUBLIC_VABO_H

#include <cstddef>
#include <cstdint>

// Result of an operation that needs more bytes than the buffer or the input
// holds.
constexpr int VABO_ERR_SHORT = -12;
// Result of an operation on invalid data or with an invalid request.
constexpr int VABO_ERR_INVALID = -22;

// Field ids are below this limit (19 bits).
constexpr uint32_t VABO_ID_LIMIT = 1u << 19;
// Ids from here up take the three-byte header form.
constexpr uint32_t VABO_LONG_ID_MIN = 2048;
// The largest field header: 3 id bytes and 4 length bytes.
constexpr size_t VABO_MAX_HEADER_SIZE = 7;
// Kind byte and 32-bit length in front of every record.
constexpr size_t VABO_RECORD_HEADER_SIZE = 5;
// How many nested fields can be open at once in one context.
constexpr int VABO_MAX_NESTING = 8;

// The value type of a field id.
enum vabo_type : uint8_t {
    vabo_type_unknown = 0,   // id not in the table; no operation accepts it
    vabo_type_int32 = 1,     // 32-bit integer, at most 4 bytes
    vabo_type_int64 = 2,     // 64-bit integer, at most 8 bytes
    vabo_type_bool = 3,      // true: the byte 1; false: empty
    vabo_type_float = 4,     // 32-bit floating point, bit pattern as integer
    vabo_type_double = 5,    // 64-bit floating point, bit pattern as integer
    vabo_type_ipv4_host = 6, // IPv4 address in host byte order
    vabo_type_ipv4_net = 7,  // IPv4 address in network byte order
    vabo_type_mac = 8,       // 48-bit hardware address, exactly 6 bytes
    vabo_type_bytes = 9,     // byte string (also used for nested fields)
    vabo_type_record = 10,   // record; not encoded by the generic operations
};

// Field ids of the fingerprint file and their value types (see the table in
// vabo.cc). 13023 is reserved (byte string) and never written.
constexpr uint32_t LN_TIRVO_VERSION = 13000;                          // int32
constexpr uint32_t LN_TIRVO_ALPHABET_SIZE = 13001;                    // int32
constexpr uint32_t LN_TIRVO_SOURCE_NAME = 13002;                      // bytes
constexpr uint32_t LN_TIRVO_NUM_DFAS = 13003;                         // int32
constexpr uint32_t LN_TIRVO_NUM_VARIABLES = 13004;                    // int32
constexpr uint32_t LN_TIRVO_NUM_BYC_PROGS = 13005;                    // int32
constexpr uint32_t LN_TIRVO_VARIABLE_NAME = 13006;                    // bytes
constexpr uint32_t LN_TIRVO_VARIABLE_ID = 13007;                      // int32
constexpr uint32_t LN_TIRVO_VARIABLE_IS_SHARED = 13008;               // bool
constexpr uint32_t LN_TIRVO_VARIABLE_SIZE = 13009;                    // int32
constexpr uint32_t LN_TIRVO_BYC_ID = 13010;                           // int32
constexpr uint32_t LN_TIRVO_BYC = 13011;                              // bytes
constexpr uint32_t LN_TIRVO_BYC_RELOC = 13012;                        // nested
constexpr uint32_t LN_TIRVO_BYC_RELOC_POS = 13013;                    // int32
constexpr uint32_t LN_TIRVO_BYC_RELOC_TYPE = 13014;                   // int32
constexpr uint32_t LN_TIRVO_LOCATION = 13015;                         // nested
constexpr uint32_t LN_TIRVO_LOCATION_FIRST_LINE = 13016;              // int32
constexpr uint32_t LN_TIRVO_LOCATION_FIRST_COLUMN = 13017;            // int32
constexpr uint32_t LN_TIRVO_LOCATION_LAST_LINE = 13018;               // int32
constexpr uint32_t LN_TIRVO_LOCATION_LAST_COLUMN = 13019;             // int32
constexpr uint32_t LN_TIRVO_DFA_ID = 13020;                           // int32
constexpr uint32_t LN_TIRVO_DFA_NUM_STATES = 13021;                   // int32
constexpr uint32_t LN_TIRVO_BOUND = 13022;                            // int32
constexpr uint32_t LN_TIRVO_STATE_ID = 13024;                         // int32
constexpr uint32_t LN_TIRVO_DFA_NUM_PLAIN_STATES = 13025;             // int32
constexpr uint32_t LN_TIRVO_COUNT_RANGE_START = 13026;                // int32
constexpr uint32_t LN_TIRVO_COUNT_RANGE_LEN = 13027;                  // int32
constexpr uint32_t LN_TIRVO_STATE_COUNT = 13028;                      // int32
constexpr uint32_t LN_TIRVO_COUNT_RANGE = 13029;                      // nested
constexpr uint32_t LN_TIRVO_BYC_NUM_RELOCS = 13030;                   // int32
constexpr uint32_t LN_TIRVO_STATE_MATCHING_NEXT_STATE_EXISTS = 13031; // bool
constexpr uint32_t LN_TIRVO_STATE_NUM_BYC_IDS = 13032;                // int32
constexpr uint32_t LN_TIRVO_STATE_CANNOT_MATCH = 13033;               // bool
constexpr uint32_t LN_TIRVO_STATE_NUM_COUNT_RANGES = 13034;           // int32
constexpr uint32_t LN_TIRVO_DFA_INITIAL_STATE = 13035;                // int32
constexpr uint32_t LN_TIRVO_BYC_REQUIRED_STACK_SIZE = 13036;          // int32
constexpr uint32_t LN_TIRVO_FILE_ID = 13037;                          // int32
constexpr uint32_t LN_TIRVO_STATE_NEXT_STATES = 13038;                // bytes
constexpr uint32_t LN_TIRVO_NUM_SITUATIONS = 13039;                   // int32
constexpr uint32_t LN_TIRVO_SITUATION_SID = 13040;                    // int32
constexpr uint32_t LN_TIRVO_LOW_LEVEL_DFA = 13041;                    // bool
constexpr uint32_t LN_TIRVO_STATE_NUM_SIDS = 13042;                   // int32
constexpr uint32_t LN_TIRVO_STATE_SID = 13043;                        // int32
constexpr uint32_t LN_TIRVO_STATE_TYPE = 13044;                       // int32

// One open nested field of an encoding context.
struct vabo_nested {
    uint32_t id;            // field id of the nested field
    size_t header_position; // where its header goes (7 bytes reserved)
    size_t data_position;   // where its inner fields start
};

// Encoder over a caller's buffer. Set up with vabo_context_init.
struct vabo_context {
    uint8_t *buf;                         // output buffer, owned by the caller
    size_t size;                          // capacity of buf in bytes
    size_t position;                      // bytes written so far; the next field goes here
    ptrdiff_t record_start;               // position of the open record's kind byte, or -1
    int error;                            // 0, or the first error an operation met
    int nesting_depth;                    // number of open nested fields
    vabo_nested nested[VABO_MAX_NESTING]; // the open nested fields, outermost first
};

// One decoded field. `data` and `len` always give the raw value bytes inside
// the input; the typed member that matches `type` holds the value.
struct vabo_value {
    uint32_t id;         // field id
    vabo_type type;      // its type
    const uint8_t *data; // the value bytes inside the input (type 9: the string)
    size_t len;          // number of value bytes
    int32_t i32;         // type 1
    int64_t i64;         // type 2
    bool boolean;        // type 3: true when the stored integer is not zero
    float f32;           // type 4
    double f64;          // type 5
    uint32_t u32;        // types 6 (host byte order) and 7 (network byte order)
    uint64_t u64;        // type 8: the address in the low 48 bits
};

// The position of one field inside the decoded bytes.
struct vabo_header {
    uint32_t id;         // field id
    size_t value_offset; // offset of the value from the field's start
    size_t end_offset;   // offset just past the value
};

// Forward-only cursor over a sequence of fields (a record's fields or the
// value of a nested field).
struct vabo_iter {
    const uint8_t *start;  // first byte of the sequence
    const uint8_t *end;    // one past its last byte
    const uint8_t *cursor; // the next field to decode
    int error;             // 0, or the first error an operation met
};

// The type of field id `id` from the type table; vabo_type_unknown (0) for an
// id that is not in it.
vabo_type vabo_field_type(uint32_t id);

// Makes `context` an empty encoder over the `size` bytes at `buf` (owned by
// the caller): position 0, no record and no nested field open, no error. Call
// again to reuse the buffer for the next record.
void vabo_context_init(vabo_context *context, uint8_t *buf, size_t size);

// Encodes one field with id `id` and the type of the table. `value` points to
// the value as the type holds it: int32_t (1), int64_t (2), bool (3), float
// (4), double (5), uint32_t in host order (6) or in network order (7),
// uint64_t with the address in its low 48 bits (8), or `length` bytes (9; may
// be null when `length` is 0). Needs this room beyond the position, whatever
// the value: 7 bytes for types 1, 4, 6 and 7, 4 for 3, 9 for 8, 11 for 2 and
// 5, `length` + 7 for 9. Returns 0; VABO_ERR_INVALID for type 0 or 10, a null
// value, a hardware address above 48 bits or a string of 2^32 bytes or more;
// VABO_ERR_SHORT when the room is missing. On failure nothing is written and
// the error is kept in `context->error` when it is the first. Asserts that id
// is below 2^19.
int vabo_encode_field(vabo_context *context, uint32_t id, const void *value, size_t length);

// vabo_encode_field with the type `type` instead of the table's.
int vabo_encode_typed_field(vabo_context *context, uint32_t id, vabo_type type, const void *value,
                            size_t length);

// Typed shorthands of vabo_encode_field; they also fail with VABO_ERR_INVALID
// when the table gives `id` another type.
int vabo_encode_int32(vabo_context *context, uint32_t id, int32_t value);
int vabo_encode_bool(vabo_context *context, uint32_t id, bool value);
int vabo_encode_bytes(vabo_context *context, uint32_t id, const void *bytes, size_t length);

// Opens a record of kind `kind` at the position: writes the kind byte and
// reserves the 4 length bytes. Returns 0; VABO_ERR_SHORT when fewer than 5
// bytes are free; VABO_ERR_INVALID when a record or a nested field is open.
int vabo_begin_record(vabo_context *context, uint8_t kind);

// Closes the open record: writes its total length (kind and length bytes
// included) most significant byte first. Returns 0; VABO_ERR_INVALID when no
// record is open, a nested field is still open, or the record has 2^32 bytes
// or more.
int vabo_end_record(vabo_context *context);

// Opens a nested field with id `id` (a byte-string id): reserves the largest
// header; the fields encoded until vabo_end_nested form its value. Returns 0;
// VABO_ERR_SHORT when fewer than 7 bytes are free; VABO_ERR_INVALID when the
// id is not a byte string or VABO_MAX_NESTING fields are already open.
// Asserts that id is below 2^19.
int vabo_begin_nested(vabo_context *context, uint32_t id);

// Closes the innermost nested field, which must have id `id`: writes its real
// header and moves the inner fields down behind it. Returns 0;
// VABO_ERR_INVALID when no nested field is open, the innermost one has
// another id, or its value has 2^32 bytes or more.
int vabo_end_nested(vabo_context *context, uint32_t id);

// An upper bound of the encoded size of a field with id `id` and, for a byte
// string, `length` value bytes: the id bytes (2, or 3 from id 2048), the
// length bytes, and the value size by type (4 for types 1, 4, 6, 7; 8 for 2,
// 5, 8; 1 for 3; `length` for 9; `length` but at least 8 otherwise).
size_t vabo_encoded_size(uint32_t id, size_t length);

// Decodes the field header at `bytes`, of which `available` bytes may be
// read, into `header`. Returns 0; VABO_ERR_SHORT when the id bytes, the
// length bytes or the value reach past `available`; VABO_ERR_INVALID when the
// length code asks for more than 4 length bytes. `header` is set only on
// success.
int vabo_decode_header(const uint8_t *bytes, size_t available, vabo_header *header);

// Decodes the value bytes `data[0..len)` of field `id` as type `type` into
// `value` (which keeps pointers into `data`). Returns 0 (type 10 yields only
// the raw bytes); VABO_ERR_INVALID for type 0 or a value longer than the type
// allows (4 bytes for types 1, 3, 4, 6, 7; 8 for 2, 5; 6 for 8).
int vabo_decode_value(uint32_t id, vabo_type type, const uint8_t *data, size_t len,
                      vabo_value *value);

// Decodes the field at `bytes` (at most `available` bytes) with the type of
// the table. Returns 0 with the value, and with the offset just past the
// field in `*end` when `end` is not null; the errors of vabo_decode_header
// and vabo_decode_value.
int vabo_decode_field(const uint8_t *bytes, size_t available, vabo_value *value, size_t *end);

// Reads a record's kind and total length from the 5 bytes at `bytes`.
// Returns 0; VABO_ERR_SHORT when fewer than 5 bytes are available;
// VABO_ERR_INVALID when the length is below 5 (it counts the 5 bytes).
int vabo_decode_record_header(const uint8_t *bytes, size_t available, uint8_t *kind,
                              uint32_t *length);

// Sets `iter` up over the `len` bytes at `bytes` (not copied; they must
// outlive the iterator), cursor at the start, no error.
void vabo_iter_init(vabo_iter *iter, const uint8_t *bytes, size_t len);

// Decodes the field at the cursor with the type of the table and moves the
// cursor past it. Returns 0; VABO_ERR_SHORT at or past the end; the errors of
// vabo_decode_field. On failure the cursor stays and the error is kept in
// `iter->error` when it is the first.
int vabo_next_field(vabo_iter *iter, vabo_value *value);

// Moves the cursor forward to the first field whose id is one of the
// `num_ids` ids at `ids`, skipping every other field by its header alone,
// decodes it with the type of the table and moves the cursor past it.
// Returns 0; VABO_ERR_SHORT when the end is reached first or a header does
// not fit; the errors of vabo_decode_field for the field found. On failure
// the cursor stays at the failing field (or the end) and the error is kept in
// `iter->error` when it is the first.
int vabo_find_field(vabo_iter *iter, const uint32_t *ids, size_t num_ids, vabo_value *value);

// Writes the text form of `value` (by its type) into `buf` of `size` bytes,
// always zero-terminated when `size` > 0. Returns the length of the text
// without the terminator; VABO_ERR_SHORT when it did not fit (the text is cut
// and still terminated); VABO_ERR_INVALID for type 10 or an unknown type (the
// buffer then holds the empty text).
ptrdiff_t vabo_value_to_text(char *buf, size_t size, const vabo_value *value);

#endif
