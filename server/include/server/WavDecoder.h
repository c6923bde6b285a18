// Decodes a PCM WAV image (8/16/24/32-bit integer or 32/64-bit float, any rate, any channel
// count up to 16) into 16 kHz mono float samples in -1..1.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace server {

class WavDecoder {
public:
    static constexpr int kOutputRate = 16000;

    class Error : public std::runtime_error {
    public:
        enum class Kind {
            Malformed,    // not a WAV, or a broken or truncated one
            Unsupported,  // a well-formed WAV we cannot convert (not PCM, odd sample size, ...)
            TooLong,      // more audio than the caller allows
        };
        Error(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
        Kind kind() const { return kind_; }

    private:
        Kind kind_;
    };

    struct Format {
        int channels = 0;
        int sampleRate = 0;
        int bitsPerSample = 0;
        bool isFloat = false;
    };

    struct Audio {
        Format source;               // what the file held
        std::vector<float> samples;  // 16 kHz mono
    };

    // `maxSeconds` bounds the audio's duration; longer input is refused with Kind::TooLong.
    static Audio decode(std::string_view bytes, double maxSeconds);
};

}  // namespace server
