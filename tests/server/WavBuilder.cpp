#include "WavBuilder.h"

#include <cmath>
#include <cstring>

namespace servertest {

namespace {

void put16(std::string& s, std::uint32_t v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void put32(std::string& s, std::uint32_t v) {
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
}

}  // namespace

std::string WavBuilder::build(const std::vector<float>& interleaved) const {
    std::string data;
    const int realTag = formatTag == 0xFFFE ? subFormat : formatTag;
    for (float x : interleaved) {
        const double v = realTag == 3 ? x : std::fmax(-1.0, std::fmin(1.0, x));
        if (realTag == 3 && bits == 32) {
            float f = x;
            char b[4];
            std::memcpy(b, &f, 4);
            data.append(b, 4);
        } else if (realTag == 3 && bits == 64) {
            char b[8];
            std::memcpy(b, &v, 8);
            data.append(b, 8);
        } else if (bits == 8) {
            data.push_back(static_cast<char>(static_cast<int>(std::lround(v * 127.0)) + 128));
        } else {
            const double scale = std::ldexp(1.0, bits - 1) - 1;
            const auto q = static_cast<std::int64_t>(std::llround(v * scale));
            for (int i = 0; i < bits / 8; ++i) data.push_back(static_cast<char>((q >> (8 * i)) & 0xFF));
        }
    }

    std::string fmt;
    put16(fmt, static_cast<std::uint32_t>(formatTag));
    put16(fmt, static_cast<std::uint32_t>(channels));
    put32(fmt, static_cast<std::uint32_t>(sampleRate));
    put32(fmt, static_cast<std::uint32_t>(sampleRate * channels * bits / 8));
    put16(fmt, static_cast<std::uint32_t>(channels * bits / 8));
    put16(fmt, static_cast<std::uint32_t>(bits));
    if (formatTag == 0xFFFE) {
        put16(fmt, 22);
        put16(fmt, static_cast<std::uint32_t>(bits));
        put32(fmt, channels == 1 ? 0x4 : 0x3);
        put16(fmt, static_cast<std::uint32_t>(subFormat));
        fmt.append("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    }

    std::string body = "WAVE";
    if (extraChunkBeforeFmt) {
        body += "LIST";
        put32(body, 5);
        body.append("INFOx", 5);
        body.push_back('\0');  // pad byte
    }
    body += "fmt ";
    put32(body, static_cast<std::uint32_t>(fmt.size()));
    body += fmt;
    body += "data";
    put32(body, dataSizeOverride >= 0 ? static_cast<std::uint32_t>(dataSizeOverride)
                                      : static_cast<std::uint32_t>(data.size()));
    body += data;

    std::string out = "RIFF";
    put32(out, static_cast<std::uint32_t>(body.size()));
    return out + body;
}

std::vector<float> WavBuilder::sine(double hz, double seconds, int rate, double amp) {
    std::vector<float> s(static_cast<std::size_t>(seconds * rate));
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<float>(amp * std::sin(2 * M_PI * hz * static_cast<double>(i) / rate));
    return s;
}

std::string WavBuilder::pcm16k(const std::vector<float>& samples) { return WavBuilder{}.build(samples); }

}  // namespace servertest
