#include "Kernels.h"

#include <cstdlib>
#include <cstring>

namespace speech {

namespace {

bool cpuHasAvx512() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("fma") && __builtin_cpu_supports("f16c");
#else
    return false;
#endif
}

bool cpuHasAvx2() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && __builtin_cpu_supports("f16c");
#else
    return false;
#endif
}

const KernelSet& choose() {
    // TOVRIN_SPEECH_ISA lets a benchmark compare the sets on one machine.
    if (const char* want = std::getenv("TOVRIN_SPEECH_ISA"))
        if (const KernelSet* k = kernelsNamed(want)) return *k;
    if (cpuHasAvx512()) return isa_avx512::get();
    if (cpuHasAvx2()) return isa_avx2::get();
    return isa_generic::get();
}

}  // namespace

const KernelSet* kernelsNamed(const char* name) {
    if (std::strcmp(name, "avx512") == 0) return cpuHasAvx512() ? &isa_avx512::get() : nullptr;
    if (std::strcmp(name, "avx2") == 0) return cpuHasAvx2() ? &isa_avx2::get() : nullptr;
    if (std::strcmp(name, "generic") == 0) return &isa_generic::get();
    return nullptr;
}

const KernelSet& kernels() {
    static const KernelSet& k = choose();
    return k;
}

}  // namespace speech
