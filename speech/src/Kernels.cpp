#include "Kernels.h"

#include "speech/Recognizer.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

namespace speech {

namespace {

bool cpuHasAvx512() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("avx512vnni") &&
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

struct Choice {
    const KernelSet* set;
    bool forced;
};

// The best set the processor runs, or the one TOVRIN_SPEECH_ISA names (case ignored), which
// lets a benchmark compare the sets on one machine.
Choice choose() {
    const char* want = std::getenv("TOVRIN_SPEECH_ISA");
    if (want && *want) {
        std::string name = want;
        for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (name != "avx512" && name != "avx2" && name != "generic")
            throw Error("TOVRIN_SPEECH_ISA=" + std::string(want) +
                        " names no kernel set; valid values: avx512, avx2, generic");
        if (const KernelSet* k = kernelsNamed(name.c_str())) return {k, true};
        throw Error("TOVRIN_SPEECH_ISA=" + std::string(want) + ": this processor cannot run the " + name +
                    " kernels; it runs " + (cpuHasAvx2() ? "avx2, generic" : "generic"));
    }
    if (cpuHasAvx512()) return {&isa_avx512::get(), false};
    if (cpuHasAvx2()) return {&isa_avx2::get(), false};
    return {&isa_generic::get(), false};
}

const Choice& choice() {
    static const Choice c = choose();
    return c;
}

}  // namespace

const KernelSet* kernelsNamed(const char* name) {
    if (std::strcmp(name, "avx512") == 0) return cpuHasAvx512() ? &isa_avx512::get() : nullptr;
    if (std::strcmp(name, "avx2") == 0) return cpuHasAvx2() ? &isa_avx2::get() : nullptr;
    if (std::strcmp(name, "generic") == 0) return &isa_generic::get();
    return nullptr;
}

const KernelSet& kernels() { return *choice().set; }

std::string kernelSetInUse() {
    const Choice& c = choice();
    return std::string(c.set->name) + (c.forced ? ", forced by TOVRIN_SPEECH_ISA" : ", detected");
}

}  // namespace speech
