/* Run-time allocation hooks.
 *
 * Every block that the fingerprint loader and the matching engine allocate
 * comes from one of 24 replaceable (obtain, release) pairs, one per kind of
 * object, so that a host can account for, limit or place each kind on its
 * own. All pairs start as the C library's malloc and free. A host replaces
 * all of them at once with tirvo_set_allocators, before its first load or
 * engine call; the pairs are process-wide and not locked.
 *
 * An obtain function gets a size in bytes and returns a block suitably
 * aligned for any object, or null when there is none; the loader and the
 * engine turn null into their memory error. A release function gets a block
 * that the obtain function of the same pair returned; it is never called with
 * null.
 *
 * This header is plain C so that a C host can include it; the C++ helpers at
 * the end are for the library itself.
 */
#ifndef TIRVO_STORE_TIRVO_ALLOC_H
#define TIRVO_STORE_TIRVO_ALLOC_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Obtains `size` bytes, or returns null. */
typedef void *(*tirvo_obtain_fn)(size_t size);

/* Gives back a block that the matching obtain function returned. */
typedef void (*tirvo_release_fn)(void *block);

/* The kinds of objects, one (obtain, release) pair each, in the order of the
 * arguments of tirvo_set_allocators. */
enum tirvo_alloc_kind {
    tirvo_alloc_kind_fingerprint = 0,      /* the fingerprint record */
    tirvo_alloc_kind_variables = 1,        /* the variable table */
    tirvo_alloc_kind_bycps = 2,            /* the program table */
    tirvo_alloc_kind_dfas = 3,             /* the DFA table */
    tirvo_alloc_kind_variable_name = 4,    /* variable names */
    tirvo_alloc_kind_code = 5,             /* program code */
    tirvo_alloc_kind_relocs = 6,           /* relocation tables */
    tirvo_alloc_kind_file_name = 7,        /* the file name */
    tirvo_alloc_kind_inflate = 8,          /* the decompressor's memory and the read windows */
    tirvo_alloc_kind_situations = 9,       /* the situation table */
    tirvo_alloc_kind_state_data = 10,      /* the state data block and the segments used while
                                              loading */
    tirvo_alloc_kind_tmp_file_name = 11,   /* the temporary file's name */
    tirvo_alloc_kind_shared_frame = 12,    /* shared variable frames */
    tirvo_alloc_kind_matchable_files = 13, /* the file entries of a matchable */
    tirvo_alloc_kind_reloc_var = 14,       /* relocated variable records */
    tirvo_alloc_kind_reloc_var_name = 15,  /* the names of relocated variables */
    tirvo_alloc_kind_matchable = 16,       /* matchable records */
    tirvo_alloc_kind_agent = 17,           /* agent records */
    tirvo_alloc_kind_eng_ctx = 18,         /* engine contexts */
    tirvo_alloc_kind_local_frame = 19,     /* the local variable frames of matchers */
    tirvo_alloc_kind_arena_block = 20,     /* the blocks of an agent's arena */
    tirvo_alloc_kind_kept_22 = 21,         /* kept; nothing allocates through it */
    tirvo_alloc_kind_kept_23 = 22,         /* kept; nothing allocates through it */
    tirvo_alloc_kind_reverse_map = 23,     /* the reverse maps of variable sets */
    tirvo_alloc_kind_count = 24            /* number of kinds */
};

/* Replaces all 24 pairs at once; each obtain function comes before the
 * release function of its pair, the pairs in the order of tirvo_alloc_kind.
 * A pair of which either function is null becomes the default pair (malloc,
 * free), so that a block is always released by the family that obtained it.
 * Call it only while no block of the loader or the engine is alive: a block
 * must go back to the release function of the pair that obtained it. */
void tirvo_set_allocators(
    tirvo_obtain_fn fingerprint_obtain, tirvo_release_fn fingerprint_release,
    tirvo_obtain_fn variables_obtain, tirvo_release_fn variables_release,
    tirvo_obtain_fn bycps_obtain, tirvo_release_fn bycps_release, tirvo_obtain_fn dfas_obtain,
    tirvo_release_fn dfas_release, tirvo_obtain_fn variable_name_obtain,
    tirvo_release_fn variable_name_release, tirvo_obtain_fn code_obtain,
    tirvo_release_fn code_release, tirvo_obtain_fn relocs_obtain, tirvo_release_fn relocs_release,
    tirvo_obtain_fn file_name_obtain, tirvo_release_fn file_name_release,
    tirvo_obtain_fn inflate_obtain, tirvo_release_fn inflate_release,
    tirvo_obtain_fn situations_obtain, tirvo_release_fn situations_release,
    tirvo_obtain_fn state_data_obtain, tirvo_release_fn state_data_release,
    tirvo_obtain_fn tmp_file_name_obtain, tirvo_release_fn tmp_file_name_release,
    tirvo_obtain_fn shared_frame_obtain, tirvo_release_fn shared_frame_release,
    tirvo_obtain_fn matchable_files_obtain, tirvo_release_fn matchable_files_release,
    tirvo_obtain_fn reloc_var_obtain, tirvo_release_fn reloc_var_release,
    tirvo_obtain_fn reloc_var_name_obtain, tirvo_release_fn reloc_var_name_release,
    tirvo_obtain_fn matchable_obtain, tirvo_release_fn matchable_release,
    tirvo_obtain_fn agent_obtain, tirvo_release_fn agent_release, tirvo_obtain_fn eng_ctx_obtain,
    tirvo_release_fn eng_ctx_release, tirvo_obtain_fn local_frame_obtain,
    tirvo_release_fn local_frame_release, tirvo_obtain_fn arena_block_obtain,
    tirvo_release_fn arena_block_release, tirvo_obtain_fn kept_22_obtain,
    tirvo_release_fn kept_22_release, tirvo_obtain_fn kept_23_obtain,
    tirvo_release_fn kept_23_release, tirvo_obtain_fn reverse_map_obtain,
    tirvo_release_fn reverse_map_release);

/* Obtains `size` bytes through the pair of `kind`; null when there are none.
 * Asserts that `kind` is one of the 24 kinds. */
void *tirvo_obtain(enum tirvo_alloc_kind kind, size_t size);

/* Obtains `size` bytes through the pair of `kind` and fills them with zero;
 * null when there are none. */
void *tirvo_obtain_zeroed(enum tirvo_alloc_kind kind, size_t size);

/* Gives `block` back through the pair of `kind`; does nothing for null. */
void tirvo_release(enum tirvo_alloc_kind kind, void *block);

#ifdef __cplusplus
}
#endif

#endif
