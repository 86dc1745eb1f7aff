// Fingerprint files for tests, built directly with the record encoding and
// zlib.
//
// A test describes a file as plain data (fp_test_file: header values,
// variables, situations, programs, DFAs with their states) and gets the
// uncompressed record stream in exactly the layout the writer produces:
// records in file order, fields in the order the writer stores them. The
// description may also say things the writer never would (a wrong version,
// counts that disagree with the tables, ids out of order, a state of an
// unknown type), so that the loader's checks can be driven from the same
// description. For damage below the level of fields (a broken record header,
// a cut stream) a test works on the bytes, with fp_test_record_* for single
// records and fp_test_gzip / fp_test_zlib for compression.
#ifndef TIRVO_TESTS_STORE_FP_TEST_FILE_H
#define TIRVO_TESTS_STORE_FP_TEST_FILE_H

#include "lib/vabo/public/vabo.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// A count field that takes the number of elements the description holds.
constexpr int32_t fp_test_auto = INT32_MIN;

// A source range as the file stores it.
struct fp_test_location {
    int32_t first_line = 0;
    int32_t first_column = 0;
    int32_t last_line = 0;
    int32_t last_column = 0;
};

struct fp_test_variable {
    std::string name;       // 13006
    int32_t id = 0;         // 13007
    bool is_shared = false; // 13008
    int32_t size = 32;      // 13009
};

struct fp_test_reloc {
    int32_t type = 1;        // 13014
    int32_t pos = 0;         // 13013
    int32_t variable_id = 0; // 13007, written for type 3 only
};

struct fp_test_program {
    int32_t id = 0;                    // 13010
    bool has_location = true;          // write 13015
    fp_test_location location;         // 13016-13019
    std::vector<uint8_t> code;         // 13011
    int32_t required_stack_size = 0;   // 13036
    int32_t bound = -1;                // 13022
    std::vector<fp_test_reloc> relocs; // 13012 each
    int32_t num_relocs = fp_test_auto; // 13030; fp_test_auto: the number of relocs
};

// One run of a count set.
struct fp_test_run {
    int32_t start = 0; // 13026
    int32_t len = 0;   // 13027
};

struct fp_test_state {
    int32_t id = 0;                          // 13024
    int32_t type = 2;                        // 13044: 1 low-level, 2 plain, 3 count, else unknown
    bool cannot_match = false;               // 13033
    bool matching_next_state_exists = false; // 13031 (type 1)
    std::vector<uint32_t> next;              // 13038: targets of the symbols 0, 1, ...
    int entry_bytes = -1;                    // bytes per target; -1: those the DFA's size needs
    std::vector<int32_t> ids;                // 13043 (type 1) or 13010 (types 2, 3) each
    int32_t num_ids = fp_test_auto;          // 13042 or 13032; fp_test_auto: the number of ids
    int32_t count = 0;                       // 13028 (type 3)
    std::vector<fp_test_run> runs;           // 13029 each (type 3)
};

struct fp_test_dfa {
    int32_t id = 0;                    // 13020
    bool has_location = true;          // write 13015
    fp_test_location location;         // 13016-13019
    int32_t num_states = fp_test_auto; // 13021; fp_test_auto: the number of states
    int32_t plain = 0;                 // 13025
    int32_t initial = 0;               // 13035
    int32_t bound = -1;                // 13022
    std::vector<fp_test_state> states; // one record each, in this order
};

struct fp_test_file {
    int32_t version = 1;                       // 13000
    int32_t file_id = 0;                       // 13037
    int32_t alphabet_size = 260;               // 13001
    std::string source_name = "<cmdline arg>"; // 13002
    bool low_level = false;                    // 13041
    std::vector<fp_test_variable> variables;   // in file order
    std::vector<int32_t> situations;           // in file order
    std::vector<fp_test_program> programs;     // in file order
    std::vector<fp_test_dfa> dfas;             // in file order
    int32_t num_dfas = fp_test_auto;           // 13003; fp_test_auto: the number of DFAs
    int32_t num_variables = fp_test_auto;      // 13004; fp_test_auto: the number of variables
    int32_t num_byc_progs = fp_test_auto;      // 13005; fp_test_auto: the number of programs
    int32_t num_situations = fp_test_auto;     // 13039; fp_test_auto: the number of situations
};

// One record being encoded.
struct fp_test_record {
    std::vector<uint8_t> buf; // room for the largest record and some more
    vabo_context ctx;         // the encoder over buf
};

// Opens a record of kind `kind`.
void fp_test_record_begin(fp_test_record *r, uint8_t kind);
// Appends one field of each kind; failures of the encoder stop the test run.
void fp_test_record_i32(fp_test_record *r, uint32_t id, int32_t value);
void fp_test_record_bool(fp_test_record *r, uint32_t id, bool value);
void fp_test_record_bytes(fp_test_record *r, uint32_t id, const void *bytes, size_t len);
void fp_test_record_nested_begin(fp_test_record *r, uint32_t id);
void fp_test_record_nested_end(fp_test_record *r, uint32_t id);
// Closes the record and returns its bytes.
std::string fp_test_record_end(fp_test_record *r);

// Bytes of an entry of the next-state vector of a DFA with `num_states`
// states: those needed for num_states - 1, 0 for a single state.
int fp_test_entry_bytes(int32_t num_states);

// The uncompressed record stream of `file`.
std::string fp_test_records(const fp_test_file &file);

// The records of single parts, as fp_test_records writes them.
std::string fp_test_header_record(const fp_test_file &file);
std::string fp_test_program_record(const fp_test_program &program);
std::string fp_test_dfa_record(const fp_test_dfa &dfa);
std::string fp_test_state_record(const fp_test_dfa &dfa, const fp_test_state &state,
                                 bool low_level);

// `raw` compressed as a gzip stream (level 9) or as a zlib stream.
std::string fp_test_gzip(const std::string &raw);
std::string fp_test_zlib(const std::string &raw);

// The content of the gzip stream `gz` (one member, as the writer makes it).
// `ok` becomes false when `gz` is not a complete gzip stream: a zlib stream,
// a damaged or cut stream, or bytes after its end.
std::string fp_test_gunzip(const std::string &gz, bool *ok);

// A DFA of `num_states` plain states (ids 0, 1, ...; type 1 when
// `low_level`) whose next-state vectors are empty, so that every state stays
// where it is on every symbol; all states are plain. Tests give some states
// targets of their own. Keeps files of many states small.
fp_test_dfa fp_test_self_loop_dfa(int32_t num_states, bool low_level);

// A state of type 2 with targets for all 260 symbols: `dflt` everywhere
// except the pairs of `moves` (symbol, target); `ids` are its program ids.
fp_test_state fp_test_plain_state(int32_t id, uint32_t dflt,
                                  std::vector<std::pair<uint32_t, uint32_t>> moves = {},
                                  std::vector<int32_t> ids = {});

// A file with a bit of everything, valid as it stands: file id 7; three
// variables in the file order 2 ("count", local, 8 bits), 0 ("x", shared, 32)
// and 1 ("flag", local, 1); the situations 30, -5, 7; three programs:
//   0 at 3-3,4-17: PUSH32_LIT 5; COPY32_TO32 x; SID_LIT 30 (relocations:
//     variable x at 6, situation literal at 10), stack 4, bound -1;
//   1 without location: SKIP_VARBIT_Z flag FW 4; SUBDFA 1 (relocations:
//     variable flag at 1, regex entry at 8), stack 0, bound 2;
//   2 at 5-6,1-2: empty;
// and two DFAs:
//   0 at 1-1,1-20, 4 states, 2 plain, initial 0, bound 3: state 0 goes to 1
//     on 'a' and to 3 on the symbol 257, else stays; state 1 has programs 0
//     and 1 and goes to 2 on every symbol; state 2 is a count state (count 5
//     over the runs 48+10 and 250+20) with programs 0, 1, 2 and an empty
//     vector; state 3 has the unknown type 7;
//   1 without location: a single state with an empty vector, bound -1.
fp_test_file fp_test_sample_file();

#endif
