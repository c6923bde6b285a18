#include "state/LegacyHistoryImport.h"

#include "state/SqlStatement.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/TextTools.h"

#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

namespace {

const char* const kInsertHistory = "INSERT INTO history(ts,text,words,seconds,language) VALUES(?,?,?,?,?)";

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

LegacyHistoryImport::LegacyHistoryImport(const std::string& folder)
    : file_((std::filesystem::path(folder) / fileName).string()) {
    std::ifstream in(file_, std::ios::binary);
    if (!in) return;
    std::string content(std::istreambuf_iterator<char>(in), {});
    if (in.bad()) {
        qCWarning(logStore, "cannot read %s; it is imported at a later start", file_.c_str());
        return;
    }
    if (!platform::TextTools::isUtf8(content)) {
        qCWarning(logStore, "%s is not UTF-8 text and is not imported", file_.c_str());
        return;
    }
    content_ = std::move(content);
}

std::optional<double> LegacyHistoryImport::parseInternetDateTime(const std::string& s) {
    auto digits = [&](std::size_t at, std::size_t n, int& out) {
        if (at + n > s.size()) return false;
        out = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (s[i] < '0' || s[i] > '9') return false;
            out = out * 10 + (s[i] - '0');
        }
        return true;
    };
    int year, month, day, hour, minute, second;
    if (!digits(0, 4, year) || s.size() < 20 || s[4] != '-' || !digits(5, 2, month) || s[7] != '-' ||
        !digits(8, 2, day) || s[10] != 'T' || !digits(11, 2, hour) || s[13] != ':' || !digits(14, 2, minute) ||
        s[16] != ':' || !digits(17, 2, second))
        return std::nullopt;
    int offset = 0;
    if (s.size() == 20 && s[19] == 'Z') {
        offset = 0;
    } else if (s.size() == 25 && (s[19] == '+' || s[19] == '-') && s[22] == ':') {
        int oh, om;
        if (!digits(20, 2, oh) || !digits(23, 2, om) || oh > 23 || om > 59) return std::nullopt;
        offset = (oh * 60 + om) * 60 * (s[19] == '-' ? -1 : 1);
    } else {
        return std::nullopt;
    }
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && day == 29 && !leap) return std::nullopt;
    const std::int64_t days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    return static_cast<double>(days * 86400 + hour * 3600 + minute * 60 + second - offset);
}

std::optional<HistoryRow> LegacyHistoryImport::decode(const std::string& line) {
    const auto j = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (!j.is_object()) return std::nullopt;
    HistoryRow e;
    const auto ts = j.find("ts");
    if (ts == j.end() || !ts->is_string()) return std::nullopt;
    const auto when = parseInternetDateTime(ts->get<std::string>());
    if (!when) return std::nullopt;
    e.ts = *when;

    const auto text = j.find("text");
    if (text == j.end() || !text->is_string()) return std::nullopt;
    e.text = text->get<std::string>();

    const auto words = j.find("words");
    if (words == j.end()) return std::nullopt;
    if (words->is_number_integer()) {
        e.words = HistoryRow::clampedWords(
            words->is_number_unsigned()
                ? static_cast<std::int64_t>(
                      std::min<std::uint64_t>(words->get<std::uint64_t>(), std::numeric_limits<std::int64_t>::max()))
                : words->get<std::int64_t>());
    } else if (words->is_number_float()) {
        // A whole number written with a fraction part ("12.0") is still an integer.
        const double w = words->get<double>();
        if (!std::isfinite(w) || std::floor(w) != w || std::fabs(w) > 9.2e18) return std::nullopt;
        e.words = HistoryRow::clampedWords(static_cast<std::int64_t>(w));
    } else {
        return std::nullopt;
    }

    const auto seconds = j.find("seconds");
    if (seconds == j.end() || !seconds->is_number()) return std::nullopt;
    e.seconds = seconds->get<double>();

    const auto language = j.find("language");
    if (language != j.end() && !language->is_null()) {
        if (!language->is_string()) return std::nullopt;
        e.language = language->get<std::string>();
    }
    return e;
}

bool LegacyHistoryImport::writeInto(sqlite3* db, const std::function<void(std::size_t)>& rowImported) const {
    if (!content_) return false;
    const std::string& content = *content_;
    // Nowhere to put the rows: the file is kept for a later launch rather than lost.
    if (!db || sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
        qCWarning(logStore, "cannot import %s now: %s", file_.c_str(), db ? sqlite3_errmsg(db) : "no store");
        return false;
    }
    bool failed = false;
    std::size_t imported = 0;
    std::size_t start = 0;
    while (start <= content.size() && !failed) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        const std::string line = content.substr(start, end - start);
        start = end + 1;
        if (line.empty()) continue;
        const auto entry = decode(line);
        if (!entry) continue;
        SqlStatement insert(db, kInsertHistory);
        insert.bind(1, entry->ts);
        insert.bind(2, entry->text);
        insert.bind(3, entry->words);
        insert.bind(4, entry->seconds);
        insert.bind(5, entry->language);
        if (insert.step() != SQLITE_DONE) {
            failed = true;
            break;
        }
        ++imported;
        if (rowImported) rowImported(imported);
    }
    if (failed || sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        qCWarning(logStore, "the import of %s failed after %zu rows (%s); it is tried again at the next start",
                  file_.c_str(), imported, sqlite3_errmsg(db));
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    qCInfo(logStore, "%zu history rows imported from %s", imported, file_.c_str());
    return true;
}

void LegacyHistoryImport::setFileAside() const {
    if (platform::Paths::setAside(file_, ".imported").empty())
        qCWarning(logStore, "%s was imported but cannot be renamed", file_.c_str());
}
