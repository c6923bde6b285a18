#include "server/WavDecoder.h"

#include "server/Resampler.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>

namespace server {

namespace {

using Kind = WavDecoder::Error::Kind;

constexpr std::uint16_t kFormatPcm = 0x0001;
constexpr std::uint16_t kFormatFloat = 0x0003;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
constexpr std::uint32_t kSizeUnknown = 0xFFFFFFFF;  // written by streaming encoders
constexpr int kMinRate = 1000;
constexpr int kMaxRate = 768000;
constexpr int kMaxChannels = 16;

std::uint16_t u16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t u32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

[[noreturn]] void fail(Kind kind, const std::string& message) { throw WavDecoder::Error(kind, message); }

std::string hex4(unsigned v) {
    static const char* digits = "0123456789ABCDEF";
    std::string s = "0x0000";
    for (int i = 0; i < 4; ++i) s[5 - i] = digits[(v >> (4 * i)) & 0xF];
    return s;
}

struct FmtChunk {
    std::uint16_t tag = 0;
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bits = 0;
};

FmtChunk parseFmt(const unsigned char* p, std::uint32_t size) {
    if (size < 16) fail(Kind::Malformed, "WAV fmt chunk is too short");
    FmtChunk f;
    f.tag = u16(p);
    f.channels = u16(p + 2);
    f.rate = u32(p + 4);
    f.blockAlign = u16(p + 12);
    f.bits = u16(p + 14);
    if (f.tag == kFormatExtensible) {
        // cbSize(2) validBits(2) channelMask(4) then the sub-format GUID, whose first two bytes
        // are the real format tag.
        if (size < 40) fail(Kind::Malformed, "WAV extensible fmt chunk is too short");
        f.tag = u16(p + 24);
    }
    return f;
}

float sampleAt(const unsigned char* p, const FmtChunk& f) {
    if (f.tag == kFormatFloat) {
        double v;
        if (f.bits == 32) {
            float x;
            std::memcpy(&x, p, 4);
            v = x;
        } else {
            std::memcpy(&v, p, 8);
        }
        if (!std::isfinite(v)) return 0.0f;
        return static_cast<float>(v < -1.0 ? -1.0 : (v > 1.0 ? 1.0 : v));
    }
    switch (f.bits) {
    case 8: return (static_cast<int>(p[0]) - 128) / 128.0f;
    case 16: return static_cast<std::int16_t>(u16(p)) / 32768.0f;
    case 24: {
        std::int32_t v = static_cast<std::int32_t>(p[0] | (p[1] << 8) | (p[2] << 16));
        if (v & 0x800000) v -= 0x1000000;
        return static_cast<float>(v / 8388608.0);
    }
    default: return static_cast<float>(static_cast<std::int32_t>(u32(p)) / 2147483648.0);
    }
}

}  // namespace

WavDecoder::Audio WavDecoder::decode(std::string_view bytes, double maxSeconds) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    if (size == 0) fail(Kind::Malformed, "empty body: expected a WAV file");
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) {
        if (size >= 4 && std::memcmp(data, "RIFX", 4) == 0)
            fail(Kind::Unsupported, "big-endian WAV (RIFX) is not supported");
        fail(Kind::Malformed, "not a WAV file (no RIFF/WAVE header)");
    }

    // Walk the chunks; the RIFF size field is often wrong, so the body's length is what counts.
    std::optional<FmtChunk> fmt;
    std::size_t dataOffset = 0;
    std::size_t dataSize = 0;
    bool haveData = false;
    std::size_t pos = 12;
    while (pos + 8 <= size && !(fmt && haveData)) {
        const unsigned char* id = data + pos;
        const std::uint32_t chunkSize = u32(data + pos + 4);
        const std::size_t body = pos + 8;
        const std::size_t available = size - body;
        std::size_t advance = chunkSize;
        if (std::memcmp(id, "data", 4) == 0 && !haveData) {
            if (chunkSize == kSizeUnknown) {
                dataSize = available;
            } else if (chunkSize > available) {
                fail(Kind::Malformed, "truncated WAV: data chunk declares " + std::to_string(chunkSize) +
                                          " bytes, " + std::to_string(available) + " present");
            } else {
                dataSize = chunkSize;
            }
            dataOffset = body;
            haveData = true;
            advance = dataSize;
        } else {
            if (chunkSize > available) fail(Kind::Malformed, "truncated WAV: a chunk runs past the end");
            if (std::memcmp(id, "fmt ", 4) == 0 && !fmt) fmt = parseFmt(data + body, chunkSize);
        }
        // Chunks are padded to an even length.
        pos = body + advance;
        pos += pos & 1u;
    }
    if (!fmt) fail(Kind::Malformed, size < 44 ? "truncated WAV header" : "WAV has no fmt chunk");
    if (!haveData) fail(Kind::Malformed, "WAV has no data chunk");

    const FmtChunk& f = *fmt;
    if (f.tag != kFormatPcm && f.tag != kFormatFloat)
        fail(Kind::Unsupported, "WAV is not PCM (format tag " + hex4(f.tag) + ")");
    if (f.channels < 1 || f.channels > kMaxChannels)
        fail(Kind::Unsupported, "WAV has " + std::to_string(f.channels) + " channels; 1 to 16 are supported");
    if (f.rate < kMinRate || f.rate > kMaxRate)
        fail(Kind::Unsupported, "WAV sample rate " + std::to_string(f.rate) + " Hz is not supported");
    const bool bitsOk = f.tag == kFormatFloat ? (f.bits == 32 || f.bits == 64)
                                              : (f.bits == 8 || f.bits == 16 || f.bits == 24 || f.bits == 32);
    if (!bitsOk)
        fail(Kind::Unsupported, "WAV sample size of " + std::to_string(f.bits) + " bits is not supported");
    const std::size_t sampleBytes = f.bits / 8u;
    const std::size_t frameBytes = sampleBytes * f.channels;
    if (f.blockAlign != frameBytes) fail(Kind::Malformed, "WAV block alignment does not match its sample format");

    // A trailing partial frame is dropped.
    const std::size_t frames = dataSize / frameBytes;
    if (static_cast<double>(frames) / f.rate > maxSeconds)
        fail(Kind::TooLong, "audio is longer than " + std::to_string(static_cast<long long>(maxSeconds)) + " s");

    std::vector<float> mono(frames);
    const unsigned char* p = data + dataOffset;
    for (std::size_t i = 0; i < frames; ++i) {
        float sum = 0;
        for (int c = 0; c < f.channels; ++c, p += sampleBytes) sum += sampleAt(p, f);
        mono[i] = sum / f.channels;
    }

    Audio audio;
    audio.source = Format{f.channels, static_cast<int>(f.rate), f.bits, f.tag == kFormatFloat};
    audio.samples = Resampler::convert(mono, static_cast<int>(f.rate), kOutputRate);
    // The filter can ring slightly past full scale; the engine expects -1..1.
    for (float& s : audio.samples) s = s < -1.0f ? -1.0f : (s > 1.0f ? 1.0f : s);
    return audio;
}

}  // namespace server
