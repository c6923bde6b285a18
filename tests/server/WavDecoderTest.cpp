#include "WavBuilder.h"

#include "server/WavDecoder.h"

#include <gtest/gtest.h>

#include <cmath>

using server::WavDecoder;
using servertest::WavBuilder;
using Kind = WavDecoder::Error::Kind;

namespace {

constexpr double kLong = 3600;

// Amplitude of the `hz` component of 16 kHz `s` (ignoring `skip` samples at each edge).
double amplitudeAt(const std::vector<float>& s, double hz, std::size_t skip = 800) {
    double re = 0, im = 0;
    const std::size_t n = s.size() - 2 * skip;
    for (std::size_t i = skip; i < s.size() - skip; ++i) {
        const double ph = 2 * M_PI * hz * static_cast<double>(i) / 16000.0;
        re += s[i] * std::cos(ph);
        im += s[i] * std::sin(ph);
    }
    return 2 * std::sqrt(re * re + im * im) / static_cast<double>(n);
}

struct FormatCase {
    const char* name;
    int tag, subFormat, bits;
    double tolerance;
    friend void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }
};

class WavFormats : public ::testing::TestWithParam<FormatCase> {};

}  // namespace

// Every PCM sample format decodes to the same signal, within its quantisation step.
TEST_P(WavFormats, DecodesSamplesExactly) {
    const FormatCase& c = GetParam();
    WavBuilder b;
    b.formatTag = c.tag;
    b.subFormat = c.subFormat;
    b.bits = c.bits;
    const auto source = WavBuilder::sine(440, 0.1, 16000, 0.9);
    const WavDecoder::Audio audio = WavDecoder::decode(b.build(source), kLong);
    ASSERT_EQ(audio.samples.size(), source.size());
    EXPECT_EQ(audio.source.bitsPerSample, c.bits);
    for (std::size_t i = 0; i < source.size(); ++i) ASSERT_NEAR(audio.samples[i], source[i], c.tolerance) << i;
}

INSTANTIATE_TEST_SUITE_P(AllPcm, WavFormats,
                         ::testing::Values(FormatCase{"u8", 1, 1, 8, 1.5 / 128}, FormatCase{"s16", 1, 1, 16, 1e-4},
                                           FormatCase{"s24", 1, 1, 24, 1e-6}, FormatCase{"s32", 1, 1, 32, 1e-6},
                                           FormatCase{"f32", 3, 3, 32, 1e-7}, FormatCase{"f64", 3, 3, 64, 1e-7},
                                           FormatCase{"ext_s24", 0xFFFE, 1, 24, 1e-6},
                                           FormatCase{"ext_f32", 0xFFFE, 3, 32, 1e-7}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WavDecoder, MixesChannelsAndClampsFloat) {
    WavBuilder stereo;
    stereo.channels = 2;
    const auto audio = WavDecoder::decode(stereo.build({0.5f, -0.25f, 0.5f, -0.25f}), kLong);
    ASSERT_EQ(audio.samples.size(), 2u);
    EXPECT_NEAR(audio.samples[0], 0.125, 1e-4);
    EXPECT_EQ(audio.source.channels, 2);

    // Out-of-range and non-finite float samples must not reach the engine as such.
    WavBuilder f;
    f.formatTag = 3;
    f.bits = 32;
    const auto loud = WavDecoder::decode(f.build({3.0f, -7.0f, NAN, INFINITY}), kLong);
    ASSERT_EQ(loud.samples.size(), 4u);
    EXPECT_EQ(loud.samples[0], 1.0f);
    EXPECT_EQ(loud.samples[1], -1.0f);
    EXPECT_EQ(loud.samples[2], 0.0f);
    EXPECT_EQ(loud.samples[3], 0.0f);
}

// Other rates come out at 16 kHz with the same pitch and level, and downsampling removes
// what 16 kHz cannot hold instead of folding it into the speech band.
TEST(WavDecoder, ResamplesToSixteenKilohertz) {
    for (int rate : {8000, 11025, 22050, 44100, 48000, 96000}) {
        WavBuilder b;
        b.sampleRate = rate;
        const auto audio = WavDecoder::decode(b.build(WavBuilder::sine(1000, 1.0, rate)), kLong);
        EXPECT_NEAR(static_cast<double>(audio.samples.size()), 16000.0, 1.0) << rate;
        EXPECT_NEAR(amplitudeAt(audio.samples, 1000), 0.5, 0.01) << rate;
        EXPECT_LT(amplitudeAt(audio.samples, 1100), 0.01) << rate;
    }

    // 12 kHz at 48 kHz would alias to 4 kHz.
    auto mix = WavBuilder::sine(1000, 1.0, 48000, 0.4);
    const auto high = WavBuilder::sine(12000, 1.0, 48000, 0.4);
    for (std::size_t i = 0; i < mix.size(); ++i) mix[i] += high[i];
    WavBuilder b;
    b.sampleRate = 48000;
    const auto audio = WavDecoder::decode(b.build(mix), kLong);
    EXPECT_NEAR(amplitudeAt(audio.samples, 1000), 0.4, 0.01);
    EXPECT_LT(amplitudeAt(audio.samples, 4000), 0.005);
}

TEST(WavDecoder, ReadsLayoutVariants) {
    const auto source = WavBuilder::sine(300, 0.05, 16000);

    WavBuilder listFirst;  // an odd-sized chunk (with its pad byte) before fmt
    listFirst.extraChunkBeforeFmt = true;
    EXPECT_EQ(WavDecoder::decode(listFirst.build(source), kLong).samples.size(), source.size());

    WavBuilder streaming;  // data size unknown when the header was written
    streaming.dataSizeOverride = 0xFFFFFFFF;
    EXPECT_EQ(WavDecoder::decode(streaming.build(source), kLong).samples.size(), source.size());

    // A trailing half sample is dropped; an empty data chunk is no audio, not an error.
    EXPECT_EQ(WavDecoder::decode(WavBuilder::pcm16k(source) + "x", kLong).samples.size(), source.size());
    EXPECT_TRUE(WavDecoder::decode(WavBuilder::pcm16k({}), kLong).samples.empty());
}

TEST(WavDecoder, RefusesBadInputWithTheRightKind) {
    const std::string good = WavBuilder::pcm16k(WavBuilder::sine(300, 0.05, 16000));
    auto patched = [&](std::size_t offset, std::string bytes) {
        std::string s = good;
        s.replace(offset, bytes.size(), bytes);
        return s;
    };
    WavBuilder adpcm;
    adpcm.formatTag = 2;
    WavBuilder extAdpcm;
    extAdpcm.formatTag = 0xFFFE;
    extAdpcm.subFormat = 2;
    WavBuilder twelveBit;
    twelveBit.bits = 12;
    WavBuilder truncatedData;
    truncatedData.dataSizeOverride = 100000;

    const struct {
        const char* what;
        std::string bytes;
        Kind kind;
    } cases[] = {
        {"empty", "", Kind::Malformed},
        {"text", "hello, this is not audio at all", Kind::Malformed},
        {"riff but not wave", patched(8, "AVI "), Kind::Malformed},
        {"header cut short", good.substr(0, 30), Kind::Malformed},
        {"only the riff header", good.substr(0, 12), Kind::Malformed},
        {"data cut short", truncatedData.build(WavBuilder::sine(300, 0.05, 16000)), Kind::Malformed},
        {"chunk past the end", patched(16, std::string("\xff\xff\x00\x00", 4)), Kind::Malformed},
        {"no data chunk", good.substr(0, 36), Kind::Malformed},
        {"block align mismatch", patched(32, std::string("\x07\x00", 2)), Kind::Malformed},
        {"adpcm", adpcm.build({0, 0}), Kind::Unsupported},
        {"extensible adpcm", extAdpcm.build({0, 0}), Kind::Unsupported},
        {"12-bit", twelveBit.build({}), Kind::Unsupported},
        {"no channels", patched(22, std::string("\x00\x00", 2)), Kind::Unsupported},
        {"rate zero", patched(24, std::string("\x00\x00\x00\x00", 4)), Kind::Unsupported},
        {"big endian", patched(0, "RIFX"), Kind::Unsupported},
    };
    for (const auto& c : cases) {
        try {
            WavDecoder::decode(c.bytes, kLong);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const WavDecoder::Error& e) {
            EXPECT_EQ(e.kind(), c.kind) << c.what << ": " << e.what();
            EXPECT_STRNE(e.what(), "") << c.what;
        }
    }

    try {
        WavDecoder::decode(WavBuilder::pcm16k(WavBuilder::sine(300, 2.0, 16000)), 1.0);
        ADD_FAILURE() << "two seconds accepted under a one-second limit";
    } catch (const WavDecoder::Error& e) {
        EXPECT_EQ(e.kind(), Kind::TooLong);
    }
}
