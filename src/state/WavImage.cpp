#include "state/WavImage.h"

#include <algorithm>
#include <cstdint>

namespace WavImage {

namespace {

constexpr std::size_t kHeaderBytes = 44;
constexpr double kBytesPerSecond = 32000;  // 16 kHz, 2 bytes a sample

}  // namespace

std::string make(const std::string& pcm16Mono16k) {
    const std::size_t length = std::min(pcm16Mono16k.size(), kMaxPCMBytes);
    auto le32 = [](std::string& s, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    };
    auto le16 = [](std::string& s, std::uint16_t v) {
        s.push_back(static_cast<char>(v & 0xff));
        s.push_back(static_cast<char>((v >> 8) & 0xff));
    };
    std::string out;
    out.reserve(44 + length);
    out += "RIFF";
    le32(out, static_cast<std::uint32_t>(36 + length));
    out += "WAVEfmt ";
    le32(out, 16);
    le16(out, 1);      // PCM
    le16(out, 1);      // mono
    le32(out, 16000);  // samples per second
    le32(out, 32000);  // bytes per second
    le16(out, 2);      // bytes per frame
    le16(out, 16);     // bits per sample
    out += "data";
    le32(out, static_cast<std::uint32_t>(length));
    out.append(pcm16Mono16k, 0, length);
    return out;
}

double durationSeconds(const std::string& image) {
    return image.size() > kHeaderBytes ? static_cast<double>(image.size() - kHeaderBytes) / kBytesPerSecond : 0;
}

}  // namespace WavImage
