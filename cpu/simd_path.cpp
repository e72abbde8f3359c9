#include "simd_path.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

// -1 until the first use; a plain int, so the plug-in keeps no state that
// outlives its unloading.
int chosenPath = -1;

SimdPath widestSupported() {
    if (simdPathSupported(SimdPath::Avx512)) return SimdPath::Avx512;
    if (simdPathSupported(SimdPath::Avx2)) return SimdPath::Avx2;
    return SimdPath::Plain;
}

SimdPath fromEnvironment() {
    const char* wanted = std::getenv("SPHEREFILL_SIMD");
    if (wanted) {
        for (SimdPath p : {SimdPath::Plain, SimdPath::Avx2, SimdPath::Avx512})
            if (std::strcmp(wanted, simdPathName(p)) == 0 && simdPathSupported(p)) return p;
    }
    return widestSupported();
}

}  // namespace

bool simdPathSupported(SimdPath path) {
    switch (path) {
    case SimdPath::Plain:
        return true;
#ifdef SPHEREFILL_X86_SIMD
    case SimdPath::Avx2:
        return __builtin_cpu_supports("avx2");
    case SimdPath::Avx512:
        return __builtin_cpu_supports("avx512f");
#else
    default:
        return false;
#endif
    }
    return false;
}

SimdPath activeSimdPath() {
    if (chosenPath < 0) chosenPath = static_cast<int>(fromEnvironment());
    return static_cast<SimdPath>(chosenPath);
}

bool forceSimdPath(SimdPath path) {
    if (!simdPathSupported(path)) return false;
    chosenPath = static_cast<int>(path);
    return true;
}

const char* simdPathName(SimdPath path) {
    switch (path) {
    case SimdPath::Plain:
        return "plain";
    case SimdPath::Avx2:
        return "avx2";
    case SimdPath::Avx512:
        return "avx512";
    }
    return "unknown";
}
