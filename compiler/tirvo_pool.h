// The compile pool: one arena from which every stage of a compile allocates.
//
// Every parse-tree record, character set, expression node, NFA state,
// superstate and listing buffer of a compile comes from the pool and nothing
// is released one by one: the cleanup releases everything at once. The pool
// carves blocks out of large chunks obtained from its allocation function, so
// an allocation is a pointer bump; a block larger than a quarter of a chunk
// gets a chunk of its own. Blocks are aligned for any fundamental type.
//
// A pool must be set up before use and stays usable after a release; using it
// before set-up (or after its state word was overwritten) aborts.
#ifndef TIRVO_COMPILER_TIRVO_POOL_H
#define TIRVO_COMPILER_TIRVO_POOL_H

#include <cstddef>

struct tirvo_pool_chunk;

using tirvo_pool_alloc_fn = void *(*)(std::size_t n);
using tirvo_pool_release_fn = void (*)(void *p);

struct tirvo_pool {
    int state;                       // 1 once set up
    tirvo_pool_chunk *chunks;        // every chunk obtained, newest first
    char *cur;                       // free space of the current chunk
    std::size_t left;                // bytes left at `cur`
    tirvo_pool_alloc_fn alloc_fn;    // obtains chunks (the system's malloc by default)
    tirvo_pool_release_fn release_fn; // gives chunks back (the system's free by default)
};

// Sets the pool up empty with the two functions; always succeeds.
void tirvo_pool_setup(tirvo_pool *pool, tirvo_pool_alloc_fn alloc_fn,
                      tirvo_pool_release_fn release_fn);

// A block of `n` bytes owned by the pool (contents undefined), or null when
// the allocation function failed. Aborts when the pool is not set up.
void *tirvo_pool_alloc(tirvo_pool *pool, std::size_t n);

// Releases every block; the pool stays set up and usable. Aborts when the
// pool is not set up.
void tirvo_pool_release_all(tirvo_pool *pool);

#endif
