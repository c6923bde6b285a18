// libFuzzer target over the model file parser: any input either parses or raises
// speech::Error; nothing else (crash, overflow, other exception) is acceptable.
#include "ModelFile.h"
#include "speech/Recognizer.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        speech::ModelFile m = speech::parseModel(data, size);
        (void)m;
    } catch (const speech::Error&) {
    }
    return 0;
}
