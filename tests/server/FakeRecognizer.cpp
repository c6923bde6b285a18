#include "FakeRecognizer.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace servertest {

std::unique_ptr<speech::Recognizer> FakeRecognizer::load(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw speech::Error("cannot open model file " + path);
    int loadMs = 0, transcribeMs = 0, failLoad = 0, countTurns = 0;
    std::string item;
    while (in >> item) {
        const auto eq = item.find('=');
        if (eq == std::string::npos) throw speech::Error("bad setting in fake model: " + item);
        const std::string key = item.substr(0, eq);
        const int value = std::stoi(item.substr(eq + 1));
        if (key == "load_ms") loadMs = value;
        else if (key == "transcribe_ms") transcribeMs = value;
        else if (key == "fail_load") failLoad = value;
        else if (key == "count_turns") countTurns = value;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(loadMs));
    if (failLoad) throw speech::Error("bad magic in " + path);
    return std::make_unique<FakeRecognizer>(transcribeMs, countTurns != 0);
}

bool FakeRecognizer::supportsLanguage(const std::string& code) const {
    return code == "auto" || code == "en" || code == "uk" || code == "de";
}

speech::Transcript FakeRecognizer::transcribe(const float*, std::size_t count, const std::string& language) {
    if (active_.fetch_add(1) != 0) overlapped_ = true;
    const int turn = turns_.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(transcribeMs_));
    active_.fetch_sub(1);
    std::ostringstream text;
    text << "samples=" << count << " language=" << language << " overlap=" << (overlapped_ ? 1 : 0);
    if (countTurns_) text << " turn=" << turn;
    return {text.str(), language == "auto" ? "en" : language};
}

}  // namespace servertest
