#define SPEECH_ISA_NS isa_avx2
#define SPEECH_ISA_AVX2 1
#include "KernelsImpl.inc"
