#include "store/tirvo_alloc.h"

#include "lib/common/tirvo_assert.h"

#include <cstdlib>
#include <cstring>

namespace {

// One replaceable pair.
struct alloc_pair {
    tirvo_obtain_fn obtain;   // obtains a block
    tirvo_release_fn release; // gives it back
};

void *default_obtain(size_t size) {
    return std::malloc(size);
}

void default_release(void *block) {
    std::free(block);
}

constexpr alloc_pair default_pair = {default_obtain, default_release};

// The pairs, indexed by tirvo_alloc_kind.
alloc_pair pairs[tirvo_alloc_kind_count] = {
    default_pair, default_pair, default_pair, default_pair, default_pair, default_pair,
    default_pair, default_pair, default_pair, default_pair, default_pair, default_pair,
    default_pair, default_pair, default_pair, default_pair, default_pair, default_pair,
    default_pair, default_pair, default_pair, default_pair, default_pair, default_pair,
};

void set_pair(tirvo_alloc_kind kind, tirvo_obtain_fn obtain, tirvo_release_fn release) {
    pairs[kind] = obtain && release ? alloc_pair{obtain, release} : default_pair;
}

} // namespace

extern "C" void tirvo_set_allocators(
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
    tirvo_release_fn reverse_map_release) {
    set_pair(tirvo_alloc_kind_fingerprint, fingerprint_obtain, fingerprint_release);
    set_pair(tirvo_alloc_kind_variables, variables_obtain, variables_release);
    set_pair(tirvo_alloc_kind_bycps, bycps_obtain, bycps_release);
    set_pair(tirvo_alloc_kind_dfas, dfas_obtain, dfas_release);
    set_pair(tirvo_alloc_kind_variable_name, variable_name_obtain, variable_name_release);
    set_pair(tirvo_alloc_kind_code, code_obtain, code_release);
    set_pair(tirvo_alloc_kind_relocs, relocs_obtain, relocs_release);
    set_pair(tirvo_alloc_kind_file_name, file_name_obtain, file_name_release);
    set_pair(tirvo_alloc_kind_inflate, inflate_obtain, inflate_release);
    set_pair(tirvo_alloc_kind_situations, situations_obtain, situations_release);
    set_pair(tirvo_alloc_kind_state_data, state_data_obtain, state_data_release);
    set_pair(tirvo_alloc_kind_tmp_file_name, tmp_file_name_obtain, tmp_file_name_release);
    set_pair(tirvo_alloc_kind_shared_frame, shared_frame_obtain, shared_frame_release);
    set_pair(tirvo_alloc_kind_matchable_files, matchable_files_obtain, matchable_files_release);
    set_pair(tirvo_alloc_kind_reloc_var, reloc_var_obtain, reloc_var_release);
    set_pair(tirvo_alloc_kind_reloc_var_name, reloc_var_name_obtain, reloc_var_name_release);
    set_pair(tirvo_alloc_kind_matchable, matchable_obtain, matchable_release);
    set_pair(tirvo_alloc_kind_agent, agent_obtain, agent_release);
    set_pair(tirvo_alloc_kind_eng_ctx, eng_ctx_obtain, eng_ctx_release);
    set_pair(tirvo_alloc_kind_local_frame, local_frame_obtain, local_frame_release);
    set_pair(tirvo_alloc_kind_arena_block, arena_block_obtain, arena_block_release);
    set_pair(tirvo_alloc_kind_kept_22, kept_22_obtain, kept_22_release);
    set_pair(tirvo_alloc_kind_kept_23, kept_23_obtain, kept_23_release);
    set_pair(tirvo_alloc_kind_reverse_map, reverse_map_obtain, reverse_map_release);
}

extern "C" void *tirvo_obtain(tirvo_alloc_kind kind, size_t size) {
    TIRVO_ASSERT(kind >= 0 && kind < tirvo_alloc_kind_count);
    return pairs[kind].obtain(size);
}

extern "C" void *tirvo_obtain_zeroed(tirvo_alloc_kind kind, size_t size) {
    void *block = tirvo_obtain(kind, size);
    if (block)
        std::memset(block, 0, size);
    return block;
}

extern "C" void tirvo_release(tirvo_alloc_kind kind, void *block) {
    TIRVO_ASSERT(kind >= 0 && kind < tirvo_alloc_kind_count);
    if (block)
        pairs[kind].release(block);
}
