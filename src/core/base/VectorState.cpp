#include "core/base/VectorState.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace corvane3 {

#if defined(__x86_64__) && defined(__GNUC__)

namespace {

__attribute__((target("avx"))) void ZeroUpper() {
    _mm256_zeroupper();
}

bool HasAvx() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx") != 0;
}

const bool kHasAvx = HasAvx();

}  // namespace

void ClearUpperVectorState() {
    if (kHasAvx) {
        ZeroUpper();
    }
}

#else

void ClearUpperVectorState() {}

#endif

}  // namespace corvane3
