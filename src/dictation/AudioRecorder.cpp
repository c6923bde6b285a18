#include "dictation/AudioRecorder.h"

#include "app/AppError.h"

AudioRecorder::AudioRecorder() = default;
AudioRecorder::~AudioRecorder() = default;

void AudioRecorder::start() { throw AppError(1, "No input device"); }
std::string AudioRecorder::stop() { return wav({}); }
void AudioRecorder::cancel() {}

std::string AudioRecorder::wav(const std::string& pcm) {
    auto le32 = [](std::string& s, unsigned v) {
        for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    };
    auto le16 = [](std::string& s, unsigned v) {
        s.push_back(static_cast<char>(v & 0xff));
        s.push_back(static_cast<char>((v >> 8) & 0xff));
    };
    std::string out = "RIFF";
    le32(out, 36 + static_cast<unsigned>(pcm.size()));
    out += "WAVEfmt ";
    le32(out, 16);
    le16(out, 1);
    le16(out, 1);
    le32(out, 16000);
    le32(out, 32000);
    le16(out, 2);
    le16(out, 16);
    out += "data";
    le32(out, static_cast<unsigned>(pcm.size()));
    out += pcm;
    return out;
}
