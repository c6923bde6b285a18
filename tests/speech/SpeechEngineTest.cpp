// Loader errors, the recogniser's contract and the agreement of the instruction-set kernels.
#include "Kernels.h"
#include "ModelFile.h"
#include "ThreadPool.h"
#include "Tokenizer.h"
#include "WhisperRecognizer.h"
#include "WindowCutter.h"
#include "speech/Recognizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <vector>

namespace {

// One directory per run of the tests (speech_engine and speech_engine_q8 run side by side
// and write models of the same names).
std::string testDir() {
    static std::string dir = [] {
        const char* weights = std::getenv("TOVRIN_TEST_WEIGHTS");
        std::string d = std::string(SPEECH_TEST_WORKDIR) + "/engine-test" + (weights ? std::string("-") + weights : "");
        std::string cmd = "mkdir -p '" + d + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        return d;
    }();
    return dir;
}

std::string makeModel(const std::string& name, const std::string& args) {
    std::string path = testDir() + "/" + name + ".bin";
    std::string cmd = std::string("'") + MAKE_TEST_MODEL + "' " + args + " -o '" + path + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return path;
}

// The recogniser's options with the weights under test: 8-bit when TOVRIN_TEST_WEIGHTS=q8
// (the speech_engine_q8 run of the recogniser's tests), else as stored.
speech::RecognizerOptions options(speech::RecognizerOptions o = {}) {
    const char* w = std::getenv("TOVRIN_TEST_WEIGHTS");
    if (w && std::string(w) == "q8") o.weights = speech::WeightType::Q8;
    return o;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void writeFile(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

std::string parseError(const std::vector<uint8_t>& data) {
    try {
        speech::parseModel(data.data(), data.size());
    } catch (const speech::Error& e) {
        return e.what();
    }
    return "";
}

void putI32(std::vector<uint8_t>& d, std::size_t off, int32_t v) { std::memcpy(d.data() + off, &v, 4); }

// Offset of a tensor's header (n_dims field) found through its name.
std::size_t tensorHeader(const std::vector<uint8_t>& d, const std::string& name, int dims) {
    auto it = std::search(d.begin(), d.end(), name.begin(), name.end());
    EXPECT_NE(it, d.end());
    return std::size_t(it - d.begin()) - 4 * std::size_t(dims) - 12;
}

std::vector<float> speechLike(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0.0f, 0.02f);
    std::vector<float> a(n);
    for (std::size_t i = 0; i < n; ++i) {
        double t = double(i) / 16000.0;
        a[i] = float(0.3 * std::sin(2 * M_PI * 220 * t + 3 * std::sin(2 * M_PI * 3 * t))) + noise(rng);
    }
    return a;
}

class ModelFileErrors : public ::testing::Test {
protected:
    static void SetUpTestSuite() { good_ = new std::vector<uint8_t>(readFile(makeModel("loader", "--preset test"))); }
    static void TearDownTestSuite() { delete good_; }
    static std::vector<uint8_t>* good_;
};
std::vector<uint8_t>* ModelFileErrors::good_ = nullptr;

TEST_F(ModelFileErrors, ValidFileParsesWithEveryTensor) {
    speech::ModelFile m = speech::parseModel(good_->data(), good_->size());
    EXPECT_EQ(m.hp.nVocab, 51865);
    EXPECT_EQ(m.tensors.size(), std::size_t(7 + 15 * 2 + 4 + 24 * 2));
    EXPECT_EQ(m.vocab.size(), 50257u);
    EXPECT_EQ(m.tensor("decoder.token_embedding.weight").type, speech::TensorType::F16);
}

TEST_F(ModelFileErrors, BadMagicAndHeaderValues) {
    auto d = *good_;
    d[0] = 'x';
    EXPECT_NE(parseError(d).find("bad magic"), std::string::npos);
    d = *good_;
    putI32(d, 4 * 11, 2007);  // ftype
    EXPECT_NE(parseError(d).find("quantised (q8_0)"), std::string::npos) << parseError(d);
    d = *good_;
    putI32(d, 4 * 11, 2008);
    EXPECT_NE(parseError(d).find("q5_0"), std::string::npos);
    d = *good_;
    putI32(d, 4 * 4, 7);  // n_audio_head does not divide the width
    EXPECT_NE(parseError(d).find("n_audio_head"), std::string::npos);
    d = *good_;
    putI32(d, 4 * 1, -5);  // n_vocab
    EXPECT_NE(parseError(d).find("n_vocab"), std::string::npos);
    d = *good_;
    putI32(d, 4 * 12, 81);  // mel filter bins disagree with n_mels
    EXPECT_NE(parseError(d).find("mel filter"), std::string::npos);
}

TEST_F(ModelFileErrors, TruncatedAnywhere) {
    for (std::size_t len : {std::size_t(0), std::size_t(3), std::size_t(20), std::size_t(60), std::size_t(70000),
                            good_->size() / 2, good_->size() - 1}) {
        std::vector<uint8_t> d(good_->begin(), good_->begin() + std::ptrdiff_t(len));
        std::string e = parseError(d);
        EXPECT_TRUE(e.find("truncated") != std::string::npos) << len << ": " << e;
    }
    // Cut exactly after a tensor: the next ones are missing.
    std::size_t cut = tensorHeader(*good_, "encoder.conv1.weight", 3);
    std::vector<uint8_t> d(good_->begin(), good_->begin() + std::ptrdiff_t(cut));
    EXPECT_NE(parseError(d).find("no tensor encoder.conv1.weight"), std::string::npos) << parseError(d);
}

TEST_F(ModelFileErrors, TensorTypeShapeAndName) {
    const std::size_t h = tensorHeader(*good_, "encoder.conv1.weight", 3);
    auto d = *good_;
    putI32(d, h + 8, 8);
    EXPECT_NE(parseError(d).find("encoder.conv1.weight has type q8_0"), std::string::npos) << parseError(d);
    d = *good_;
    putI32(d, h + 8, 99);
    EXPECT_NE(parseError(d).find("unknown type 99"), std::string::npos);
    d = *good_;
    putI32(d, h + 12, 4);  // kernel width 4 instead of 3
    EXPECT_NE(parseError(d).find("encoder.conv1.weight has shape (64, 80, 4), expected (64, 80, 3)"),
              std::string::npos)
        << parseError(d);
    d = *good_;
    d[h + 12 + 12 + 3] = 'X';  // "encoXer.conv1.weight"
    EXPECT_NE(parseError(d).find("unexpected tensor"), std::string::npos);
    d = *good_;
    d.push_back(0);
    EXPECT_FALSE(parseError(d).empty());
}

TEST(SpeechLoad, PublicLoaderReportsProblems) {
    EXPECT_THROW(speech::loadWhisperModel(testDir() + "/no-such-model.bin", 2), speech::Error);
    std::string bad = testDir() + "/bad-magic.bin";
    writeFile(bad, std::vector<uint8_t>(1000, 0x41));
    try {
        speech::loadWhisperModel(bad, 2);
        FAIL() << "loaded a file of garbage";
    } catch (const speech::Error& e) {
        EXPECT_NE(std::string(e.what()).find("bad magic"), std::string::npos);
    }
}

class RecognizerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        rec_ = new speech::WhisperRecognizer(makeModel("recognizer", "--preset test --seed 3"), 4, options());
    }
    static void TearDownTestSuite() { delete rec_; }
    static speech::WhisperRecognizer* rec_;
};
speech::WhisperRecognizer* RecognizerTest::rec_ = nullptr;

TEST_F(RecognizerTest, Languages) {
    EXPECT_TRUE(rec_->supportsLanguage("auto"));
    EXPECT_TRUE(rec_->supportsLanguage("en"));
    EXPECT_TRUE(rec_->supportsLanguage("uk"));
    EXPECT_TRUE(rec_->supportsLanguage("su"));
    EXPECT_FALSE(rec_->supportsLanguage("yue"));  // v3 only
    EXPECT_FALSE(rec_->supportsLanguage("xx"));
    EXPECT_FALSE(rec_->supportsLanguage(""));
    auto a = speechLike(16000, 1);
    EXPECT_THROW(rec_->transcribe(a.data(), a.size(), "klingon"), speech::Error);
    auto t = rec_->transcribe(a.data(), a.size(), "uk");
    EXPECT_EQ(t.language, "uk");
    EXPECT_EQ(rec_->engine().tokenizer().languageToken(rec_->engine().tokenizer().languageIndex("uk")),
              rec_->engine().tokenizer().sot() + 22);
}

TEST_F(RecognizerTest, TextIsDeterministicTrimmedAndValidUtf8) {
    auto a = speechLike(5 * 16000, 2);
    auto t1 = rec_->transcribe(a.data(), a.size(), "auto");
    auto t2 = rec_->transcribe(a.data(), a.size(), "auto");
    EXPECT_FALSE(t1.text.empty());
    EXPECT_EQ(t1.text, t2.text);
    EXPECT_EQ(t1.language, t2.language);
    EXPECT_NE(t1.text.front(), ' ');
    EXPECT_NE(t1.text.back(), ' ');
    EXPECT_EQ(speech::sanitizeUtf8(t1.text), t1.text);
    EXPECT_TRUE(rec_->transcribe(a.data(), 0, "en").text.empty());
}

TEST_F(RecognizerTest, LongRecordingIsDecodedWindowByWindow) {
    auto a = speechLike(70 * 16000, 3);  // 30 + 30 + 10 s
    auto results = rec_->engine().transcribe(a.data(), a.size(), "en");
    ASSERT_EQ(results.size(), 3u);
    auto t = rec_->transcribe(a.data(), a.size(), "en");
    std::string joined;
    for (auto& r : results) {
        ASSERT_FALSE(r.tokens.empty());
        std::string s = rec_->engine().tokenizer().decode(r.tokens);
        auto b = s.find_first_not_of(' ');
        if (!joined.empty()) joined += ' ';
        joined += s.substr(b, s.find_last_not_of(' ') - b + 1);
    }
    EXPECT_EQ(t.text, joined);
}

// A model on which every window reads as silence: the no-speech test turns it into "".
TEST(NoSpeech, SilentWindowsGiveNoText) {
    speech::WhisperRecognizer rec(makeModel("silent", "--preset test --no-speech --seed 4"), 2, options());
    auto a = speechLike(35 * 16000, 4);
    auto results = rec.engine().transcribe(a.data(), a.size(), "auto");
    ASSERT_EQ(results.size(), 2u);
    for (auto& r : results) {
        EXPECT_GT(r.noSpeechProb, 0.6f);
        EXPECT_LT(r.avgLogprob, -1.0f);
        EXPECT_TRUE(r.noSpeech);
    }
    EXPECT_EQ(rec.transcribe(a.data(), a.size(), "en").text, "");
}

// espeak-ng speech at 16 kHz, or empty when espeak-ng or sox is missing.
std::vector<float> espeak(const std::string& name, const std::string& text) {
    const std::string wav = testDir() + "/" + name + ".wav", raw = testDir() + "/" + name + ".f32";
    const std::string cmd = "espeak-ng -v en-us -s 160 -w '" + wav + "' '" + text + "' && sox '" + wav +
                            "' -r 16000 -c 1 -e floating-point -b 32 -t raw '" + raw + "'";
    if (std::system(cmd.c_str()) != 0) return {};
    auto bytes = readFile(raw);
    std::vector<float> a(bytes.size() / sizeof(float));
    std::memcpy(a.data(), bytes.data(), a.size() * sizeof(float));
    return a;
}

// One clause of connected speech, repeated: its longest pause is about 0.1 s.
std::vector<float> connectedSpeech(std::size_t samples) {
    std::string clause = "the quick brown fox jumps over the lazy dog while the farmer walks along the river bank "
                         "and the children play near the old stone bridge under a bright summer sky ";
    std::string text;
    for (int i = 0; i < 8; ++i) text += clause;
    auto a = espeak("connected", text);
    if (a.size() < samples) return {};
    a.resize(samples);
    return a;
}

class LongRecording : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        rec_ = new speech::WhisperRecognizer(makeModel("long", "--preset test --seed 3"), 4,
                                             options({.temperatureFallback = false}));
    }
    static void TearDownTestSuite() { delete rec_; }
    static speech::WhisperRecognizer* rec_;
};
speech::WhisperRecognizer* LongRecording::rec_ = nullptr;

// A seam falls inside a pause before the 30 s limit, at the limit when there is none, and the
// windows of a long dictation cover every sample once.
TEST_F(LongRecording, WindowsAreCutInPausesAndCoverTheRecording) {
    const std::size_t sec = 16000;
    auto speech = connectedSpeech(40 * sec);
    if (speech.empty()) GTEST_SKIP() << "espeak-ng or sox is missing";
    auto& e = rec_->engine();

    auto plain = e.transcribe(speech.data(), speech.size(), "en");
    ASSERT_EQ(plain.size(), 2u);
    EXPECT_EQ(plain[0].end, speech::WindowCutter::kLimit);

    std::vector<float> paused(speech.begin(), speech.begin() + 27 * sec);
    paused.resize(paused.size() + 6 * sec / 10, 0.0f);
    paused.insert(paused.end(), speech.begin() + 27 * sec, speech.begin() + 40 * sec - 6 * sec / 10);
    auto cut = e.transcribe(paused.data(), paused.size(), "en");
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_GT(cut[0].end, 27 * sec);
    EXPECT_LT(cut[0].end, 27 * sec + 6 * sec / 10);
    EXPECT_EQ(cut[1].start, cut[0].end);

    // 70 s of sentences: pauses everywhere, so the cuts move off the 30 s grid.
    std::string text;
    for (int i = 0; i < 12; ++i)
        text += "Please send the report to the office before noon. We will meet again on Friday, after lunch. ";
    auto sentences = espeak("sentences", text);
    ASSERT_GE(sentences.size(), 70 * sec);
    sentences.resize(70 * sec);
    auto windows = e.transcribe(sentences.data(), sentences.size(), "en");
    ASSERT_GE(windows.size(), 3u);
    std::size_t next = 0;
    for (auto& w : windows) {
        EXPECT_EQ(w.start, next);
        EXPECT_GT(w.end, w.start);
        EXPECT_LE(w.end - w.start, speech::WindowCutter::kLimit);
        next = w.end;
    }
    EXPECT_EQ(next, sentences.size());
    EXPECT_LT(windows[0].end, speech::WindowCutter::kLimit);
}

// The second window is decoded after <|startofprev|> and the first window's latest tokens
// (at most half the text context), and only its own tokens make the text.
TEST(WindowContext, PreviousTextIsThePromptWithinItsLimit) {
    speech::WhisperRecognizer rec(makeModel("context", "--preset test --seed 3 --eot-after 1000 --text-ctx 96"), 4,
                                  options({.temperatureFallback = false}));
    auto& e = rec.engine();
    const auto& t = e.tokenizer();
    auto a = speechLike(40 * 16000, 6);
    auto r = e.transcribe(a.data(), a.size(), "en");
    ASSERT_EQ(r.size(), 2u);
    const std::size_t limit = std::size_t(e.hp().nTextCtx / 2 - 1);
    ASSERT_GT(r[0].tokens.size(), limit);  // the limit is reached
    EXPECT_EQ(r[0].prefix, (std::vector<int>{t.sot(), t.languageToken(0), t.transcribe(), t.noTimestamps()}));
    std::vector<int> want{t.startOfPrev()};
    want.insert(want.end(), r[0].tokens.end() - std::ptrdiff_t(limit), r[0].tokens.end());
    want.insert(want.end(), {t.sot(), t.languageToken(0), t.transcribe(), t.noTimestamps()});
    EXPECT_EQ(r[1].prefix, want);
    EXPECT_FALSE(r[1].tokens.empty());
    auto text = [&t](const std::vector<int>& tokens) {
        std::string s = t.decode(tokens);
        return s.substr(s.find_first_not_of(' '));
    };
    EXPECT_EQ(rec.transcribe(a.data(), a.size(), "en").text, text(r[0].tokens) + " " + text(r[1].tokens));
}

// A model whose greedy decoding loops: the fallback decodes again, keeps what the rule
// selects, repeats itself for one seed, and when turned off leaves plain greedy decoding.
TEST(Fallback, LoopsAreDecodedAgainAndTheRuleChooses) {
    const std::string model = makeModel("loop", "--preset test --seed 3 --eot-after 1000 --text-ctx 96");
    speech::WhisperRecognizer rec(model, 4, options());
    auto& e = rec.engine();
    const auto& t = e.tokenizer();
    auto a = speechLike(5 * 16000, 7);

    auto greedy = [&] {
        std::vector<float> mel(std::size_t(speech::WhisperEngine::kFrames) * e.hp().nMels);
        std::vector<float> enc = e.encoderBuffer();
        e.logMel(a.data(), a.size(), mel.data());
        e.encode(mel.data(), enc.data());
        e.beginDecode(enc.data());
        return e.decodeGreedy("en");
    }();
    ASSERT_GT(speech::WindowDecoder::compressionRatio(t.decode(greedy.tokens)), 2.4f);  // it loops

    // Default thresholds: nothing passes the log-probability, so every temperature is tried
    // and the most likely text that does not loop is kept.
    auto r = e.transcribe(a.data(), a.size(), "en");
    ASSERT_EQ(r.size(), 1u);
    ASSERT_EQ(r[0].attempts.size(), 6u);
    EXPECT_EQ(r[0].attempts[0].tokens, greedy.tokens);
    const speech::DecodeAttempt* best = nullptr;
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_NEAR(r[0].attempts[i].temperature, 0.2f * float(i), 1e-6);
        if (r[0].attempts[i].compressionRatio <= 2.4f && (!best || r[0].attempts[i].avgLogprob > best->avgLogprob))
            best = &r[0].attempts[i];
    }
    ASSERT_NE(best, nullptr);
    EXPECT_EQ(r[0].tokens, best->tokens);
    EXPECT_EQ(r[0].temperature, best->temperature);
    const std::string text = rec.transcribe(a.data(), a.size(), "en").text;
    EXPECT_EQ(text, rec.transcribe(a.data(), a.size(), "en").text);  // same seed, same text
    EXPECT_LE(speech::WindowDecoder::compressionRatio(text), 2.4f);

    // Only the compression ratio counting: the first sampled decoding passes and is kept.
    speech::DecodeOptions o = e.decodeOptions();
    o.logprobThreshold = -100;
    e.setDecodeOptions(o);
    r = e.transcribe(a.data(), a.size(), "en");
    ASSERT_EQ(r[0].attempts.size(), 2u);
    EXPECT_EQ(r[0].tokens, r[0].attempts[1].tokens);
    EXPECT_FLOAT_EQ(r[0].temperature, 0.2f);
    o.seed = 99;  // another seed samples another text
    e.setDecodeOptions(o);
    EXPECT_NE(e.transcribe(a.data(), a.size(), "en")[0].tokens, r[0].tokens);

    // In a second window the previous text conditions only the decodings below 0.5, and only
    // when it was itself sampled below 0.5.
    e.setDecodeOptions({});
    auto two = speechLike(40 * 16000, 8);
    auto w = e.transcribe(two.data(), two.size(), "en");
    ASSERT_EQ(w.size(), 2u);
    ASSERT_EQ(w[1].attempts.size(), 6u);
    const bool carried = w[0].temperature < 0.5f;
    for (auto& at : w[1].attempts) {
        ASSERT_FALSE(at.prefix.empty());
        EXPECT_EQ(at.prefix.front() == t.startOfPrev(), carried && at.temperature < 0.5f) << at.temperature;
    }

    speech::WhisperRecognizer off(model, 4, options({.temperatureFallback = false}));
    auto plain = off.engine().transcribe(a.data(), a.size(), "en");
    EXPECT_EQ(plain[0].tokens, greedy.tokens);
    EXPECT_TRUE(plain[0].attempts.empty());
    std::string g = t.decode(greedy.tokens);
    EXPECT_EQ(off.transcribe(a.data(), a.size(), "en").text, g.substr(g.find_first_not_of(' ')));
}

// 8-bit weights against the stored ones on models of the catalogue's smaller shapes: the same
// language and the same first 50 greedy tokens, for a short phrase and a whole window. (The
// large-v3-turbo shape is checked the same way by speech-bench --agreement: too slow here.)
TEST(EightBitWeights, SameLanguageAndTokensAsTheStoredWeights) {
    for (const char* preset : {"tiny", "base"}) {
        SCOPED_TRACE(preset);
        const std::string model = makeModel(std::string("q8-") + preset,
                                            std::string("--preset ") + preset + " --seed 11 --eot-after 80 --peaked");
        speech::WhisperEngine f16(model, 4, speech::WeightType::F16), q8(model, 4, speech::WeightType::Q8);
        for (int seconds : {5, 30}) {
            SCOPED_TRACE(seconds);
            auto a = speechLike(std::size_t(seconds) * 16000, unsigned(seconds));
            auto greedy = [&a](speech::WhisperEngine& e) {
                std::vector<float> mel(std::size_t(speech::WhisperEngine::kFrames) * e.hp().nMels);
                std::vector<float> enc = e.encoderBuffer();
                e.logMel(a.data(), a.size(), mel.data());
                e.encode(mel.data(), enc.data());
                e.beginDecode(enc.data());
                return e.decodeGreedy("auto", 50);
            };
            const speech::DecodeResult want = greedy(f16), got = greedy(q8);
            ASSERT_EQ(want.tokens.size(), 50u);
            EXPECT_EQ(got.language, want.language);
            EXPECT_EQ(got.tokens, want.tokens);
        }
    }
}

// Jobs of every size, back to back: each item runs exactly once and a job ends only when
// all of its items have run.
TEST(ThreadPool, EveryItemRunsExactlyOnce) {
    speech::ThreadPool pool(6);
    std::mt19937 rng(11);
    std::vector<std::atomic<int>> hits(400);
    for (int job = 0; job < 3000; ++job) {
        const int n = int(rng() % 400);
        for (int i = 0; i < n; ++i) hits[i].store(0);
        pool.run(n, [&](int64_t i) { hits[std::size_t(i)].fetch_add(1); });
        for (int i = 0; i < n; ++i) ASSERT_EQ(hits[i].load(), 1) << "job " << job << " item " << i;
    }
}

TEST(Utf8, InvalidSequencesAreReplaced) {
    EXPECT_EQ(speech::sanitizeUtf8("abc"), "abc");
    EXPECT_EQ(speech::sanitizeUtf8("\xD0\x9F\xD1\x80"), "\xD0\x9F\xD1\x80");  // valid Cyrillic
    EXPECT_EQ(speech::sanitizeUtf8("a\xD0"), "a\xEF\xBF\xBD");                // cut sequence
    EXPECT_EQ(speech::sanitizeUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // overlong
    EXPECT_EQ(speech::sanitizeUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate
}

// Every kernel set the processor runs gives the same numbers as plain loops.
TEST(Kernels, EverySetAgreesWithPlainLoops) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    const int M = 29, N = 45, K = 541;
    std::vector<float> a(M * K), b(N * K), bias(N), c0(M * N);
    for (auto& v : a) v = u(rng);
    for (auto& v : b) v = u(rng);
    for (auto& v : bias) v = u(rng);
    std::vector<uint16_t> bh(N * K);
    for (int i = 0; i < N * K; ++i) {
        _Float16 h = static_cast<_Float16>(b[i]);
        std::memcpy(&bh[i], &h, 2);
        b[i] = static_cast<float>(h);
    }
    for (int i = 0; i < M; ++i)
        for (int j = 0; j < N; ++j) {
            double s = bias[j];
            for (int k = 0; k < K; ++k) s += double(a[i * K + k]) * b[j * K + k];
            c0[i * N + j] = float(s);
        }
    int sets = 0;
    for (const char* name : {"avx512", "avx2", "generic"}) {
        const speech::KernelSet* ks = speech::kernelsNamed(name);
        if (!ks) continue;
        ++sets;
        SCOPED_TRACE(name);
        for (bool half : {false, true}) {
            std::vector<float> panel(std::size_t(ks->nr) * K), c(M * N, 0.0f);
            for (int p = 0; p * ks->nr < N; ++p) {
                int cols = std::min(ks->nr, N - p * ks->nr);
                ks->packNT(half ? static_cast<const void*>(bh.data()) : b.data(), half, K, p * ks->nr, cols, K,
                           panel.data());
                for (int r = 0; r < M; r += ks->mr)
                    ks->tile(a.data() + r * K, K, std::min(ks->mr, M - r), panel.data(), K,
                             c.data() + r * N + p * ks->nr, N, cols, bias.data() + p * ks->nr, 0);
            }
            for (int i = 0; i < M * N; ++i) ASSERT_NEAR(c[i], c0[i], 1e-4) << i;
            if (half) {  // the same product on panels kept in f16
                std::vector<uint16_t> hpanel(std::size_t(ks->nr) * K);
                std::fill(c.begin(), c.end(), 0.0f);
                for (int p = 0; p * ks->nr < N; ++p) {
                    int cols = std::min(ks->nr, N - p * ks->nr);
                    ks->packNTHalf(bh.data(), K, p * ks->nr, cols, K, hpanel.data());
                    for (int r = 0; r < M; r += ks->mr)
                        ks->tileHalf(a.data() + r * K, K, std::min(ks->mr, M - r), hpanel.data(), K,
                                     c.data() + r * N + p * ks->nr, N, cols, bias.data() + p * ks->nr, 0);
                }
                for (int i = 0; i < M * N; ++i) ASSERT_NEAR(c[i], c0[i], 1e-4) << i;
            }
            std::vector<float> y(N);
            ks->matvec(half ? static_cast<const void*>(bh.data()) : b.data(), half, K, 0, N, K, a.data(), y.data(),
                       bias.data());
            for (int j = 0; j < N; ++j) ASSERT_NEAR(y[j], c0[j], 1e-4) << j;
        }
        {  // 8-bit products: blocks of 32 (K = 541: more than sixteen, the last partial) against plain loops
            // Two rows of each hold the largest values of both signs, where a narrow sum inside
            // a kernel would saturate.
            std::vector<float> a8 = a, b8 = b;
            std::vector<uint16_t> bh8 = bh;
            for (int k = 0; k < K; ++k) {
                a8[k] = b8[k] = 1.0f;
                a8[K + k] = b8[K + k] = -1.0f;
                bh8[k] = 0x3C00;
                bh8[K + k] = 0xBC00;
            }
            auto plainQuantize = [](const float* x, int k, std::vector<int>& q, std::vector<float>& sc,
                                    float levels = 127.0f) {
                const int blocks = (k + 31) / 32;
                q.assign(std::size_t(blocks) * 32, 0);
                sc.assign(std::size_t(blocks), 0.0f);
                for (int b = 0; b < blocks; ++b) {
                    float amax = 0;
                    for (int i = b * 32; i < std::min(k, b * 32 + 32); ++i) amax = std::max(amax, std::fabs(x[i]));
                    sc[b] = amax / levels;
                    for (int i = b * 32; i < std::min(k, b * 32 + 32); ++i)
                        q[i] = amax > 0 ? int(std::nearbyint(x[i] * (levels / amax))) : 0;
                }
            };
            const int blocks = (K + 31) / 32;
            // The decoder's rows keep 8 bits; the tiles keep the set's levels.
            std::vector<std::vector<int>> aq(M), tq(M), bq(N), pq(N);
            std::vector<std::vector<float>> as(M), ts(M), bs(N), ps(N);
            for (int i = 0; i < M; ++i) {
                plainQuantize(a8.data() + i * K, K, aq[i], as[i]);
                plainQuantize(a8.data() + i * K, K, tq[i], ts[i], float(ks->qActivationMax));
            }
            for (int j = 0; j < N; ++j) {
                plainQuantize(b8.data() + j * K, K, bq[j], bs[j]);
                plainQuantize(b8.data() + j * K, K, pq[j], ps[j], float(ks->qWeightMax));
            }
            auto plainDotOf = [&](int i, int j, const std::vector<std::vector<int>>& aq,
                                  const std::vector<std::vector<float>>& as, const std::vector<std::vector<int>>& bq,
                                  const std::vector<std::vector<float>>& bs) {
                double s = bias[j];
                for (int bb = 0; bb < blocks; ++bb) {
                    long sum = 0;
                    for (int t = bb * 32; t < bb * 32 + 32; ++t) sum += long(aq[i][t]) * bq[j][t];
                    s += double(sum) * as[i][bb] * bs[j][bb];
                }
                return s;
            };
            std::vector<int8_t> q8(std::size_t(M) * blocks * 32);
            std::vector<float> sc(std::size_t(M) * blocks);
            for (int i = 0; i < M; ++i) {
                ks->quantize(a8.data() + i * K, K, q8.data() + i * blocks * 32, sc.data() + i * blocks);
                for (int t = 0; t < blocks * 32; ++t) ASSERT_EQ(q8[i * blocks * 32 + t], aq[i][t]) << i << " " << t;
                for (int bb = 0; bb < blocks; ++bb) ASSERT_EQ(sc[i * blocks + bb], as[i][bb]);
            }
            // The tiles read A as quantizeA stores it.
            std::vector<int8_t> qa(q8.size());
            std::vector<float> sa(sc.size());
            std::vector<int32_t> corr(sc.size());
            for (int i = 0; i < M; ++i)
                ks->quantizeA(a8.data() + i * K, K, qa.data() + i * blocks * 32, sa.data() + i * blocks,
                              corr.data() + i * blocks);
            std::vector<uint8_t> panel(std::size_t(ks->q8PanelBytes(K)));
            std::vector<float> c(M * N, 0.0f);
            for (int p = 0; p * ks->qnr < N; ++p) {
                int cols = std::min(ks->qnr, N - p * ks->qnr);
                ks->packQ8(bh8.data(), true, K, p * ks->qnr, cols, K, panel.data(), false);
                for (int r = 0; r < M; r += ks->qmr)
                    ks->tileQ8(qa.data() + r * blocks * 32, blocks * 32, sa.data() + r * blocks, corr.data() + r * blocks, blocks,
                               std::min(ks->qmr, M - r), panel.data(), blocks, c.data() + r * N + p * ks->qnr, N, cols,
                               bias.data() + p * ks->qnr, 0);
            }
            for (int i = 0; i < M; ++i)
                for (int j = 0; j < N; ++j) ASSERT_NEAR(c[i * N + j], plainDotOf(i, j, tq, ts, pq, ps), 1e-4) << i << " " << j;
            // The attention's weights, unsigned, by plain panels: a row of random scores, one of
            // equal ones (every weight the largest), and one ending in a partial block.
            {
                const float scale = 0.7f;
                std::vector<int8_t> wq8(std::size_t(M) * blocks * 32);
                std::vector<float> wsc(std::size_t(M) * blocks);
                std::vector<std::vector<int>> pw(M);
                std::vector<std::vector<float>> pws(M);
                for (int i = 0; i < M; ++i) {
                    std::vector<float> x(a.begin() + i * K, a.begin() + (i + 1) * K);
                    if (i == 1) std::fill(x.begin(), x.end(), 0.25f);
                    const int n = i == 2 ? K - 40 : K;
                    float m = i == 0 ? 5.0f : -std::numeric_limits<float>::infinity();  // row 0: an earlier, larger maximum
                    const float m0 = m;
                    const float sum = ks->expQuantize(x.data(), n, scale, &m, wq8.data() + i * blocks * 32,
                                                      wsc.data() + i * blocks);
                    double want = 0, top = m0;
                    for (int t = 0; t < n; ++t) top = std::max(top, double(x[t]) * scale);
                    ASSERT_NEAR(m, top, 1e-6);
                    pw[i].assign(std::size_t(blocks) * 32, 0);
                    pws[i].assign(wsc.begin() + i * blocks, wsc.begin() + (i + 1) * blocks);
                    for (int t = 0; t < blocks * 32; ++t) {
                        const double e = t < n ? std::exp(double(x[t]) * scale - top) : 0.0;
                        want += e;
                        pw[i][t] = uint8_t(wq8[i * blocks * 32 + t]);
                        ASSERT_NEAR(pw[i][t] * pws[i][t / 32], e, pws[i][t / 32] * 0.51 + 1e-6) << i << " " << t;
                    }
                    ASSERT_NEAR(sum, want, 1e-4 * want);
                }
                std::fill(c.begin(), c.end(), 0.0f);
                for (int p = 0; p * ks->qnr < N; ++p) {
                    int cols = std::min(ks->qnr, N - p * ks->qnr);
                    ks->packQ8(bh8.data(), true, K, p * ks->qnr, cols, K, panel.data(), true);
                    for (int r = 0; r < M; r += ks->qmr)
                        ks->tileQ8(wq8.data() + r * blocks * 32, blocks * 32, wsc.data() + r * blocks, nullptr, blocks,
                                   std::min(ks->qmr, M - r), panel.data(), blocks, c.data() + r * N + p * ks->qnr, N, cols,
                                   bias.data() + p * ks->qnr, speech::kGemmQ8Plain);
                }
                for (int i = 0; i < M; ++i)
                    for (int j = 0; j < N; ++j) {
                        const double want = plainDotOf(i, j, pw, pws, pq, ps);
                        ASSERT_NEAR(c[i * N + j], want, 1e-4 * std::max(1.0, std::fabs(want))) << i << " " << j;
                    }
            }
            // The decoder's products: rows of 8 bits, the vector in the set's levels.
            std::vector<int8_t> wq(std::size_t(N) * blocks * 32), xq(std::size_t(blocks) * 32);
            std::vector<float> ws(std::size_t(N) * blocks), xs(blocks), y(N), row(K);
            std::vector<int32_t> xc(blocks);
            for (int j = 0; j < N; ++j) {
                ks->quantizeRow(b8.data() + j * K, K, wq.data() + j * blocks * 32, ws.data() + j * blocks);
                ks->dequantizeRow(wq.data() + j * blocks * 32, ws.data() + j * blocks, K, row.data());
                for (int t = 0; t < K; ++t) ASSERT_EQ(row[t], bq[j][t] * bs[j][t / 32]);
            }
            for (int r : {1, 2}) {  // a row of -1, one of random values
                std::vector<std::vector<int>> vq(1);
                std::vector<std::vector<float>> vs(1);
                plainQuantize(a8.data() + r * K, K, vq[0], vs[0], float(ks->qVectorMax));
                ks->quantizeV(a8.data() + r * K, K, xq.data(), xs.data(), xc.data());
                ks->matvecQ8(wq.data(), ws.data(), 0, N, blocks, xq.data(), xs.data(), xc.data(), y.data(), bias.data());
                for (int j = 0; j < N; ++j) {
                    const double want = plainDotOf(0, j, vq, vs, bq, bs);
                    ASSERT_NEAR(y[j], want, 1e-4 * std::max(1.0, std::fabs(want))) << r << " " << j;
                }
            }
        }
        {  // rows too long for the short-row path, and a tail
            const int R = 9, L = 803;
            std::vector<float> wf(R * L), xv(L), y(R);
            std::vector<uint16_t> wh(R * L);
            for (auto& v : xv) v = u(rng);
            for (int i = 0; i < R * L; ++i) {
                _Float16 h = static_cast<_Float16>(u(rng));
                std::memcpy(&wh[i], &h, 2);
                wf[i] = static_cast<float>(h);
            }
            for (bool half : {false, true}) {
                ks->matvec(half ? static_cast<const void*>(wh.data()) : wf.data(), half, L, 0, R, L, xv.data(),
                           y.data(), bias.data());
                for (int r = 0; r < R; ++r) {
                    double s = bias[r];
                    for (int k = 0; k < L; ++k) s += double(wf[r * L + k]) * xv[k];
                    ASSERT_NEAR(y[r], s, 1e-3) << r;
                }
            }
        }
        std::vector<float> x(a.begin(), a.begin() + 53);
        for (auto& v : x) v *= 4.0f;
        std::vector<float> g = x;
        ks->gelu(g.data(), int64_t(g.size()));
        for (std::size_t i = 0; i < x.size(); ++i)
            EXPECT_NEAR(g[i], 0.5 * x[i] * (1 + std::erf(x[i] / std::sqrt(2.0))), 2e-6);
        // f16 conversion and the cross-attention kernels on f16 keys and values.
        {
            const int T = 37, dh = 70;  // odd sizes reach every tail
            std::vector<float> kf(dh * T), q(dh), p(T);
            for (auto& v : kf) v = u(rng);
            for (auto& v : q) v = u(rng);
            for (auto& v : p) v = u(rng);
            std::vector<uint16_t> kh(dh * T);
            ks->toHalf(kf.data(), dh * T, kh.data(), 1);
            std::vector<float> back(dh * T);
            ks->toFloat(kh.data(), true, dh * T, back.data());
            for (int i = 0; i < dh * T; ++i) ASSERT_NEAR(back[i], kf[i], 1e-3) << i;
            std::vector<float> sc(T), o(dh);
            ks->matvec(kh.data(), true, dh, 0, T, dh, q.data(), sc.data(), nullptr);  // kh as T x dh: keys
            for (int t = 0; t < T; ++t) {
                double want = 0;
                for (int j = 0; j < dh; ++j) want += q[j] * back[t * dh + j];
                ASSERT_NEAR(sc[t], want, 1e-4) << t;
            }
            ks->weightedSumHalf(p.data(), kh.data(), dh, T, dh, o.data());  // kh as T x dh
            for (int j = 0; j < dh; ++j) {
                double want = 0;
                for (int t = 0; t < T; ++t) want += p[t] * back[t * dh + j];
                ASSERT_NEAR(o[j], want, 1e-4) << j;
            }
            // The same values in 8 bits: three blocks a row (a pair and one alone).
            const int qdh = 96;
            std::vector<int8_t> vq(qdh * T);
            std::vector<float> vf(qdh * T), vs(3 * T), oq(qdh);
            for (auto& v : vf) v = u(rng);
            for (int t = 0; t < T; ++t) ks->quantize(vf.data() + t * qdh, qdh, vq.data() + t * qdh, vs.data() + 3 * t);
            ks->weightedSumQ8(p.data(), vq.data(), vs.data(), T, qdh, oq.data());
            for (int j = 0; j < qdh; ++j) {
                double want = 0;
                for (int t = 0; t < T; ++t) want += p[t] * vq[t * qdh + j] * vs[3 * t + j / 32];
                ASSERT_NEAR(oq[j], want, 1e-4) << j;
            }
        }
        {
            int64_t am = -1;
            double sum1 = 0;
            std::size_t best = 0;
            for (std::size_t i = 0; i < x.size(); ++i) {
                sum1 += std::exp(double(x[i]));
                if (x[i] > x[best]) best = i;
            }
            EXPECT_NEAR(ks->logSumExp(x.data(), int64_t(x.size()), &am), std::log(sum1), 1e-5);
            EXPECT_EQ(am, int64_t(best));
        }
        std::vector<float> s = x;
        float lse = ks->softmax(s.data(), int64_t(s.size()), 0.5f);
        double sum = 0;
        for (float v : x) sum += std::exp(0.5 * v);
        EXPECT_NEAR(lse, std::log(sum), 1e-5);
        for (std::size_t i = 0; i < x.size(); ++i) EXPECT_NEAR(s[i], std::exp(0.5 * x[i]) / sum, 1e-6);
        // Shifted by the largest scaled value, or by a larger shift already reached.
        for (float m0 : {-INFINITY, 3.0f}) {
            float m = m0, mx = *std::max_element(x.begin(), x.end());
            s = x;
            float got = ks->expShifted(s.data(), int64_t(s.size()), 0.5f, &m);
            EXPECT_FLOAT_EQ(m, std::max(m0, 0.5f * mx));
            double want = 0;
            for (std::size_t i = 0; i < x.size(); ++i) {
                EXPECT_NEAR(s[i], std::exp(0.5 * x[i] - m), 1e-6);
                want += std::exp(0.5 * x[i] - m);
            }
            EXPECT_NEAR(got, want, 1e-5);
        }
    }
    EXPECT_GE(sets, 1);
}

}  // namespace
