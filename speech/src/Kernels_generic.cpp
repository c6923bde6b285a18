#define SPEECH_ISA_NS isa_generic
#define SPEECH_ISA_GENERIC 1
#include "KernelsImpl.inc"
