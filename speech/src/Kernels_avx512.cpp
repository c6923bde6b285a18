#define SPEECH_ISA_NS isa_avx512
#define SPEECH_ISA_AVX512 1
#include "KernelsImpl.inc"
