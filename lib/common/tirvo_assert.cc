#include "lib/common/tirvo_assert.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void tirvo_assert_fail(const char *file, const char *check) {
    const char *base = std::strrchr(file, '/');
    base = base ? base + 1 : file;
    const char *dot = std::strrchr(base, '.');
    int len = dot ? static_cast<int>(dot - base) : static_cast<int>(std::strlen(base));
    std::fprintf(stderr, "%.*s: assertion failed: %s\n", len, base, check);
    std::fflush(stderr);
    std::abort();
}
