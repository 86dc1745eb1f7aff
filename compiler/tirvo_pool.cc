#include "compiler/tirvo_pool.h"

#include "lib/common/tirvo_assert.h"

#include <cstdint>

// Header of each chunk; the chunk's usable bytes follow it.
struct tirvo_pool_chunk {
    tirvo_pool_chunk *next; // the chunk obtained before this one
    std::max_align_t pad[1]; // keeps the bytes after the header aligned
};

namespace {

constexpr std::size_t CHUNK_BYTES = 64 * 1024;
constexpr std::size_t ALIGN = alignof(std::max_align_t);
constexpr std::size_t HEADER = (sizeof(tirvo_pool_chunk *) + ALIGN - 1) / ALIGN * ALIGN;

void check_state(const tirvo_pool *pool) { TIRVO_ASSERT(pool->state == 1); }

} // namespace

void tirvo_pool_setup(tirvo_pool *pool, tirvo_pool_alloc_fn alloc_fn,
                      tirvo_pool_release_fn release_fn) {
    pool->state = 1;
    pool->chunks = nullptr;
    pool->cur = nullptr;
    pool->left = 0;
    pool->alloc_fn = alloc_fn;
    pool->release_fn = release_fn;
}

void *tirvo_pool_alloc(tirvo_pool *pool, std::size_t n) {
    check_state(pool);
    std::size_t need = (n + ALIGN - 1) / ALIGN * ALIGN;
    if (need < n)
        return nullptr;
    if (need <= pool->left) {
        void *p = pool->cur;
        pool->cur += need;
        pool->left -= need;
        return p;
    }
    bool own_chunk = need > CHUNK_BYTES / 4;
    std::size_t body = own_chunk ? need : CHUNK_BYTES;
    if (body > SIZE_MAX - HEADER)
        return nullptr;
    auto *chunk = static_cast<tirvo_pool_chunk *>(pool->alloc_fn(HEADER + body));
    if (!chunk)
        return nullptr;
    char *data = reinterpret_cast<char *>(chunk) + HEADER;
    if (own_chunk && pool->chunks) {
        // Keep bumping in the current chunk: link the big block behind it.
        chunk->next = pool->chunks->next;
        pool->chunks->next = chunk;
        return data;
    }
    chunk->next = pool->chunks;
    pool->chunks = chunk;
    pool->cur = data + need;
    pool->left = body - need;
    return data;
}

void tirvo_pool_release_all(tirvo_pool *pool) {
    check_state(pool);
    while (pool->chunks) {
        tirvo_pool_chunk *next = pool->chunks->next;
        pool->release_fn(pool->chunks);
        pool->chunks = next;
    }
    pool->cur = nullptr;
    pool->left = 0;
}
