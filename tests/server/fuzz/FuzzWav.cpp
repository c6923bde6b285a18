// libFuzzer target: WAV decoding and conversion must refuse bad input cleanly, never crash, and
// never hand the engine non-finite samples.
#include "server/WavDecoder.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const auto audio =
            server::WavDecoder::decode(std::string_view(reinterpret_cast<const char*>(data), size), 600.0);
        for (float s : audio.samples)
            if (!std::isfinite(s) || std::abs(s) > 1.0f) __builtin_trap();
    } catch (const server::WavDecoder::Error&) {
    }
    return 0;
}
