/* Fingerprint file loader: turns a fingerprint file into the tables that the
 * matching engine runs.
 *
 * A fingerprint file is a gzip (or zlib) stream of records: a header, one
 * record per variable, per situation and per byte-code program, and for
 * every DFA a DFA record followed by one record per state. The loader reads
 * the stream once: it decompresses into a 64-KB window, finds each record it
 * needs by its kind (skipping others), and looks its fields up in the order
 * the writer stores them. It builds
 * - a table of variables, indexed by variable id;
 * - a table of byte-code programs with their relocation entries, indexed by
 *   program id;
 * - a table of situation ids, sorted ascending;
 * - per DFA a transition table of 256 entries per state (16 bits wide when
 *   the DFA has at most 65536 states, else 32 bits), followed by one 32-byte
 *   state record per state and an overflow area for id tables and count
 *   information that do not fit into a record.
 * The transition tables dominate the size; they go to a temporary file while
 * the states are read and come back as one block, `data`, that holds the
 * tables and state records of all DFAs one after the other.
 *
 * Files are untrusted. Every count, id, length, offset, state number and
 * program is checked before it is used: a malformed, truncated or hostile
 * file gives an error code (mostly 6, decoding error), never a crash, an
 * access outside a buffer or an allocation sized by an unchecked count, and
 * a loaded file can never drive the engine into an assertion. Programs are
 * checked with the instruction set's validators, every variable operand
 * must carry a relocation to a variable of a fitting size, and every state
 * target must lie inside its DFA.
 *
 * Every block comes from the allocation hooks (store/tirvo_alloc.h).
 * Messages go to the engine's error stream, the debug dump and the graph dump
 * to its debug stream while debug is on (engine/tirvo_eng_settings.h). A
 * loaded fingerprint is read-only; it belongs to the host and must outlive
 * the agents built on it. Loads may run in several threads at once; each
 * takes its own `load_serial`.
 *
 * Numbers inside `data` (table entries, state records, ids, count
 * information) are in the byte order of the machine, which for every
 * supported platform is little-endian.
 *
 * This header is plain C so that a C host can include it.
 */
#ifndef TIRVO_STORE_TIRVO_LOAD_H
#define TIRVO_STORE_TIRVO_LOAD_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
#include "lang/tirvo_location.h"
#else
/* A range of the fingerprint text (the same layout as the compiler's). */
typedef struct tirvo_location {
    int32_t first_line;   /* line of the first byte */
    int32_t first_column; /* column of the first byte */
    int32_t last_line;    /* line of the last byte */
    int32_t last_column;  /* column of the last byte */
    int32_t first_offset; /* offset of the first byte; 0 in a loaded file */
    int32_t last_offset;  /* offset of the last byte; 0 in a loaded file */
} tirvo_location;
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results of a load. The texts are those of tirvo_load_error_text. Codes
 * 1, 10, 13, 15 and 16 are never produced by this loader. */
enum tirvo_load_error {
    tirvo_load_error_success = 0,       /* "Success" */
    tirvo_load_error_header_buffer = 1, /* "Internal error: too short buffer for record header" */
    tirvo_load_error_record_buffer = 2, /* "Too short buffer for record" */
    tirvo_load_error_record_header = 3, /* "Invalid record header" */
    tirvo_load_error_eof = 4,           /* "Unexpected end of file" */
    tirvo_load_error_read = 5,          /* "File read error" */
    tirvo_load_error_decode = 6,        /* "Decoding error" */
    tirvo_load_error_inflate = 7,       /* "Decompressing error" */
    tirvo_load_error_memory = 8,        /* "Memory allocation failed" */
    tirvo_load_error_internal = 9,      /* "Internal error" */
    tirvo_load_error_tmp_open = 10,     /* "Could not open temporary file." */
    tirvo_load_error_tmp_write = 11,    /* "Could not write to temporary file." */
    tirvo_load_error_tmp_read = 12,     /* "Could not read from temporary file." */
    tirvo_load_error_tmp_unlink = 13,   /* "Could not unlink temporary file." */
    tirvo_load_error_old_format = 14,   /* "Old DFA format detected (...)" */
    tirvo_load_error_old_decode = 15,   /* "Decoding error in old format DFA file" */
    tirvo_load_error_old_buffer = 16    /* "Too short buffer for old DFA file record" */
};

/* Relocation types (`tirvo_fp_reloc.type`). */
enum tirvo_fp_reloc_type {
    tirvo_fp_reloc_type_sid_literal = 1,    /* the 4-byte situation id of SID_LIT */
    tirvo_fp_reloc_type_regex_entry_id = 2, /* the 3-byte operand of SUBDFA or RMDFA */
    tirvo_fp_reloc_type_variable = 3        /* a 3-byte variable operand */
};

/* Bits of `tirvo_fp_state.flags`. */
enum tirvo_fp_state_flag {
    tirvo_fp_state_flag_cannot_match = 1,              /* no match can follow */
    tirvo_fp_state_flag_matching_next_state_exists = 2 /* low-level DFA only */
};

/* The largest number of states of a DFA for 16-bit table entries. */
#define TIRVO_FP_DFA_MAX_NARROW_STATES 65536

/* Limits that a file must respect; they keep every offset of `data` within
 * 32 bits and every table small whatever the counts of a file claim. */
#define TIRVO_FP_MAX_DFAS 65536         /* DFAs: contexts index them in 16 bits */
#define TIRVO_FP_MAX_BYC_PROGS 65536    /* programs: contexts index them in 16 bits */
#define TIRVO_FP_MAX_VARIABLES 65536    /* variables of one file */
#define TIRVO_FP_MAX_RECORD_BODY 65536  /* bytes of one record after its kind and length */
#define TIRVO_FP_MAX_SITUATIONS 1048576 /* situations of one file */
#define TIRVO_FP_MAX_STATES 16777216    /* states of one DFA */
#define TIRVO_FP_MAX_STACK_SIZE 1020    /* bytes of a program's stack: 255 cells */

/* One variable of a file. */
typedef struct tirvo_fp_variable {
    char *name;        /* zero-terminated copy of the name */
    uint8_t is_shared; /* 1 for a shared variable */
    int32_t size;      /* bits: 1, 8, 16, 32 or 64 */
} tirvo_fp_variable;

/* One relocation entry of a program. */
typedef struct tirvo_fp_reloc {
    int32_t pos;         /* position of the operand in the code (the byte after its opcode) */
    int32_t type;        /* a tirvo_fp_reloc_type */
    int32_t variable_id; /* type 3: index into the file's variables; else 0 */
} tirvo_fp_reloc;

/* One byte-code program. */
typedef struct tirvo_fp_bycp {
    int32_t len;                 /* number of code bytes */
    uint8_t *code;               /* copy of the code; null when len is 0 */
    int32_t required_stack_size; /* stack bytes the program needs, 0 to 1020 */
    int32_t num_relocs;          /* number of relocation entries */
    tirvo_fp_reloc *relocs;      /* the entries in ascending `pos`; null when there are none */
    int32_t bound;               /* instance bound; -1 for a program that reads no stream data */
    tirvo_location location;     /* source range (lines and columns; offsets 0); zero when the
                                    file has none */
} tirvo_fp_bycp;

/* One DFA. The transition table and the state block lie inside the
 * fingerprint's `data`. */
typedef struct tirvo_fp_dfa {
    void *table;                /* num_states x 256 targets, row by row: uint16_t entries when
                                   num_states <= 65536, else uint32_t */
    uint8_t *states;            /* num_states tirvo_fp_state records, then the overflow area */
    int32_t first_active_state; /* the number of plain states; the states from here up have
                                   programs, are cannot-match or count states */
    int32_t initial_state;      /* the start state, below num_states */
    int32_t index;              /* the DFA's id */
    int32_t num_states;         /* number of states, 1 to TIRVO_FP_MAX_STATES */
    size_t data_size;           /* bytes of this DFA's part of `data` */
    int32_t bound;              /* instance bound of the regular-expression entry */
    tirvo_location location;    /* as for programs */
} tirvo_fp_dfa;

/* The 32-byte record of one state, at `states` + 32 x state id. */
typedef struct tirvo_fp_state {
    uint16_t num_ids;      /* program ids, or situation ids in a low-level DFA */
    uint8_t flags;         /* tirvo_fp_state_flag bits */
    uint8_t reserved;      /* 0 */
    uint32_t count_offset; /* offset from `states` of the tirvo_fp_count, 0 when none */
    uint32_t ids_offset;   /* offset from `states` of num_ids 32-bit ids */
    union {
        uint16_t special16[4]; /* targets of the symbols 256-259, 16-bit tables */
        uint32_t special32[4]; /* the same, 32-bit tables */
        uint8_t room[20];      /* the rest; holds the id table when it fits. Unused in a
                                  low-level DFA, which has no special targets */
    } u;
} tirvo_fp_state;

/* Count information of a count state, 48 bytes in the overflow area. */
typedef struct tirvo_fp_count {
    uint32_t count;      /* the count value */
    uint32_t reserved;   /* 0 */
    uint8_t charset[40]; /* the counted symbols: five 64-bit little-endian words, symbol c is
                            bit c % 64 of word c / 64 (bit c % 8 of byte c / 8) */
} tirvo_fp_count;

/* A loaded fingerprint file. Every table is zeroed before it is filled. */
typedef struct tirvo_fingerprint {
    unsigned low_level_dfa : 1;   /* compiled for a low-level DFA */
    int32_t num_variables;        /* number of variables */
    tirvo_fp_variable *variables; /* indexed by variable id; null when none */
    int32_t num_byc_progs;        /* number of programs */
    tirvo_fp_bycp *bycps;         /* indexed by program id; null when none */
    int32_t num_situations;       /* number of situations */
    int32_t *situations;          /* situation ids sorted ascending (signed); null when none */
    int32_t num_dfas;             /* number of DFAs */
    tirvo_fp_dfa *dfas;           /* indexed by DFA id; null when none */
    char *file_name;              /* copy of the name the file was loaded under */
    uint64_t load_serial;         /* this load's number, from a process-wide counter from 0 */
    int32_t file_id;              /* the file id given at compile time */
    char *mmap_file;              /* name of the temporary file; null after the load */
    FILE *tmp_file;               /* the temporary file; null after the load */
    uint8_t *data;                /* tables, state records and overflow areas of all DFAs */
    size_t data_size;             /* bytes of `data` */
} tirvo_fingerprint;

/* Opens `file_name` for reading in binary mode and loads it with
 * tirvo_load_fingerprint. Returns 5 without a message when the file cannot be
 * opened; otherwise the result of tirvo_load_fingerprint. */
int tirvo_load_fingerprint_file(const char *file_name, tirvo_fingerprint **fingerprint);

/* Loads the fingerprint file open on `stream` (at its start; it must be
 * seekable, and it stays the caller's), naming it `file_name` in messages
 * and in the record (null counts as ""). On success returns 0 and stores the
 * new fingerprint, owned by the caller, in `*fingerprint`; release it with
 * tirvo_free_fingerprint. On failure stores null, releases everything it had
 * allocated, prints "could not load fingerprint file %s: %d (%s)\n" to the
 * error stream and returns a code from 2 to 14 (tirvo_load_error). */
int tirvo_load_fingerprint(FILE *stream, tirvo_fingerprint **fingerprint, const char *file_name);

/* Releases every table, name and block of `fingerprint`, its temporary file
 * when still open, and the record. Does nothing for null. */
void tirvo_free_fingerprint(tirvo_fingerprint *fingerprint);

/* 1 when `sid` is one of the fingerprint's situations, else 0 (binary search
 * in the sorted table). */
int tirvo_fingerprint_has_situation(const tirvo_fingerprint *fingerprint, int32_t sid);

/* The fixed text of load result `code`; "<unknown error code>" for any code
 * outside 0 to 16. */
const char *tirvo_load_error_text(int code);

/* 1 when the transition table and special targets of `dfa` have 32-bit
 * entries, else 0. */
static inline int tirvo_fp_dfa_wide(const tirvo_fp_dfa *dfa) {
    return dfa->num_states > TIRVO_FP_DFA_MAX_NARROW_STATES;
}

/* The state record of `state` (below num_states) of `dfa`. */
static inline const tirvo_fp_state *tirvo_fp_dfa_state(const tirvo_fp_dfa *dfa, int32_t state) {
    return (const tirvo_fp_state *)(dfa->states + (size_t)32 * (size_t)state);
}

/* The target of `state` on byte `byte` (0-255). */
static inline uint32_t tirvo_fp_dfa_target(const tirvo_fp_dfa *dfa, int32_t state, int byte) {
    size_t i = (size_t)state * 256 + (size_t)byte;
    return tirvo_fp_dfa_wide(dfa) ? ((const uint32_t *)dfa->table)[i]
                                  : ((const uint16_t *)dfa->table)[i];
}

/* The target of `state` on the special symbol `symbol` (256-259); not for a
 * low-level DFA, whose records hold no special targets. */
static inline uint32_t tirvo_fp_dfa_special_target(const tirvo_fp_dfa *dfa, int32_t state,
                                                   int symbol) {
    const tirvo_fp_state *s = tirvo_fp_dfa_state(dfa, state);
    return tirvo_fp_dfa_wide(dfa) ? s->u.special32[symbol - 256] : s->u.special16[symbol - 256];
}

/* The `num_ids` ids of `state`. */
static inline const uint32_t *tirvo_fp_dfa_state_ids(const tirvo_fp_dfa *dfa, int32_t state) {
    return (const uint32_t *)(dfa->states + tirvo_fp_dfa_state(dfa, state)->ids_offset);
}

/* The count information of `state`, or null when it has none. */
static inline const tirvo_fp_count *tirvo_fp_dfa_state_count(const tirvo_fp_dfa *dfa,
                                                             int32_t state) {
    uint32_t offset = tirvo_fp_dfa_state(dfa, state)->count_offset;
    return offset ? (const tirvo_fp_count *)(dfa->states + offset) : (const tirvo_fp_count *)0;
}

/* 1 when `symbol` (0-259) is in the counted set of `count`, else 0. */
static inline int tirvo_fp_count_contains(const tirvo_fp_count *count, int symbol) {
    return (count->charset[symbol >> 3] >> (symbol & 7)) & 1;
}

#ifdef __cplusplus
}

static_assert(sizeof(tirvo_fp_state) == 32, "a state record has 32 bytes");
static_assert(sizeof(tirvo_fp_count) == 48, "count information has 48 bytes");
#endif

#endif
