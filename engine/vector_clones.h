// QUILLET_CLONES marks a hot loop to be built twice, AVX2 and plain, picked at start by an ifunc
// resolver, which only ELF executables have. ThreadSanitizer's runtime is not ready when the dynamic
// loader runs resolvers, so its builds (and every other system) keep the plain copy only.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__ELF__) && \
    !defined(__SANITIZE_THREAD__)
#define QUILLET_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define QUILLET_CLONES
#endif
