#include "state/PendingHistory.h"

#include "state/HistoryRow.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// A kept row as one line of the file. The moment is written as seconds since 1970 in full
// precision, so the row is recognised in the store after a round trip.
std::string encode(const PendingHistory::Row& r) {
    nlohmann::json j = nlohmann::json::object();
    j["ts"] = r.ts;
    j["text"] = r.text;
    j["words"] = r.words;
    j["seconds"] = r.seconds;
    j["language"] = r.language ? nlohmann::json(*r.language) : nlohmann::json(nullptr);
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

PendingHistory::PendingHistory(std::string folder, std::function<std::string(bool)> spareFolder)
    : folder_(std::move(folder)), spareFolder_(std::move(spareFolder)) {}

void PendingHistory::markTried() {
    for (auto& r : rows_) r.fresh = false;
}

void PendingHistory::clear() {
    rows_.clear();
    save();
}

void PendingHistory::load() {
    // The pending file beside the store, and the spare copy of a run that could not write it.
    for (const std::string& file : {(fs::path(folder_) / fileName).string(), spareFile(false)}) {
        if (file.empty()) continue;
        std::ifstream in(file, std::ios::binary);
        if (!in) continue;
        std::string line;
        while (std::getline(in, line)) {
            const auto j = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
            if (!j.is_object()) continue;
            const auto ts = j.find("ts"), text = j.find("text"), words = j.find("words"), seconds = j.find("seconds"),
                       language = j.find("language");
            if (ts == j.end() || !ts->is_number() || text == j.end() || !text->is_string() || words == j.end() ||
                !words->is_number_integer() || seconds == j.end() || !seconds->is_number())
                continue;
            Row row;
            row.ts = ts->get<double>();
            row.text = text->get<std::string>();
            row.words = HistoryRow::clampedWords(words->get<std::int64_t>());
            row.seconds = seconds->get<double>();
            if (language != j.end() && language->is_string()) row.language = language->get<std::string>();
            bool known = false;
            for (const auto& k : rows_)
                known = known || (k.ts == row.ts && k.text == row.text && k.words == row.words &&
                                  k.seconds == row.seconds && k.language == row.language);
            if (!known) rows_.push_back(std::move(row));
        }
    }
}

std::string PendingHistory::spareFile(bool create) const {
    const std::string folder = spareFolder_ ? spareFolder_(create) : std::string();
    if (folder.empty()) return {};
    // One file per store folder, named by a hash of its path.
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : folder_) hash = (hash ^ c) * 1099511628211ull;
    char name[64];
    std::snprintf(name, sizeof name, "/pending-history-%016llx.jsonl", static_cast<unsigned long long>(hash));
    return folder + name;
}

void PendingHistory::save() {
    const std::string file = (fs::path(folder_) / fileName).string();
    const std::string spare = spareFile(false);
    std::error_code ec;
    if (rows_.empty()) {
        fs::remove(file, ec);
        if (!spare.empty()) fs::remove(spare, ec);
        return;
    }
    std::string content;
    for (const auto& r : rows_) content += encode(r) + "\n";
    if (platform::Paths::writePrivateFile(file, content)) {
        if (!spare.empty()) fs::remove(spare, ec);
        return;
    }
    // The store's disk is full or read-only: the rows go to another file system, and the next
    // start takes them in from there.
    const std::string fallback = spareFile(true);
    if (!fallback.empty() && platform::Paths::writePrivateFile(fallback, content)) {
        qCWarning(logStore, "cannot write %s: %zu history rows are kept in %s", file.c_str(), rows_.size(),
                  fallback.c_str());
        return;
    }
    qCWarning(logStore, "cannot write %s: %zu history rows are kept in memory only", file.c_str(), rows_.size());
}
