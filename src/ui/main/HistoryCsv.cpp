#include "ui/main/HistoryCsv.h"

#include "state/WhisperResult.h"
#include "platform/TextTools.h"
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

std::string HistoryCsv::text(const std::vector<HistoryRow>& newestFirst) {
    std::string out = header;
    for (auto it = newestFirst.rbegin(); it != newestFirst.rend(); ++it) out += line(*it);
    return out;
}

std::string HistoryCsv::line(const HistoryRow& row) {
    std::string out = timestamp(row.ts);
    out += ',';
    out += std::to_string(row.words);
    out += ',';
    out += seconds(row.seconds);
    out += ',';
    // A row stored by an older version may hold anything as its language, and its text may hold
    // bytes that are no text: neither splits a line nor spoils the file's UTF-8.
    if (row.language && WhisperResult::isLanguageCode(*row.language)) out += *row.language;
    out += ',';
    out += quoted(platform::TextTools::withoutControls(row.text));
    out += '\n';
    return out;
}

std::string HistoryCsv::timestamp(double ts) {
    if (!std::isfinite(ts)) ts = 0;
    const auto whole = static_cast<std::time_t>(std::floor(ts));
    std::tm tm{};
    if (!gmtime_r(&whole, &tm)) return {};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::string HistoryCsv::seconds(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char buf[64];
    const double magnitude = std::fabs(value);
    // Plain digits between 1e-4 and 2^53, an exponent outside, as a double's own text reads.
    const bool plain = value == 0 || (magnitude >= 1e-4 && magnitude < 9007199254740992.0);
    const auto result = plain ? std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed)
                              : std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    std::string out(buf, result.ptr);
    if (plain && out.find('.') == std::string::npos) out += ".0";
    return out;
}

std::string HistoryCsv::quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}
