// The indexed dictionary against the entry-by-entry yardstick, over generated dictionaries and
// transcripts in which terms overlap, chain through each other's replacements, differ in case
// (Cyrillic, Greek sigma, the Kelvin sign, ß), carry punctuation or no word at all, and sit next
// to emoji and combining marks.
#include "dictation/DictionaryIndex.h"
#include "support/ReferenceDictionary.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

const std::vector<std::string> kWords = {
    "cat", "Cat", "CAT", "cats", "dog", "a1", "b1", "c1", "jason", "JSON", "file", "київ", "КИЇВ", "жсон",
    "σ", "Σ", "ς", "ΣΟΦΙΑ", "k", "\u212a", "ß", "ss", "x_y", "42", "e\u0301", "\u00e9", "\u0345", "\u03b9",
    "x\u0345", "x\u03b9", "ı", "I", "İ", "i", "😀", "e.g.", "c++", "don't", "$1", "\\1", "-", ".", "",
};
const std::vector<std::string> kGlue = {" ", " ", " ", "-", "", ", ", ".", "\n", "'", "\u00a0", "😀"};

class Generator {
public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    const std::string& pick(const std::vector<std::string>& from) { return from[below(int(from.size()))]; }

    std::string phrase(int minWords, int maxWords) {
        std::string out;
        if (below(8) == 0) out += pick(kGlue);
        const int n = minWords + below(maxWords - minWords + 1);
        for (int i = 0; i < n; ++i) {
            if (i) out += pick(kGlue);
            out += pick(kWords);
        }
        if (below(8) == 0) out += pick(kGlue);
        return out;
    }

    std::vector<DictRow> dictionary() {
        std::vector<DictRow> rows;
        const int n = below(12);
        for (int i = 0; i < n; ++i)
            rows.push_back(DictRow{i + 1, phrase(1, 3), phrase(0, 3), below(6) != 0});
        return rows;
    }

private:
    std::mt19937 rng_;
};

TEST(DictionaryIndexTest, GivesWhatTheEntryByEntryReplacementGives) {
    Generator gen(20261209);
    for (int round = 0; round < 10000; ++round) {
        const std::vector<DictRow> rows = gen.dictionary();
        const DictionaryIndex index(rows);
        for (int t = 0; t < 3; ++t) {
            const std::string text = gen.phrase(0, 14);
            const std::string expected = test::referenceDictionaryApply(text, rows);
            const std::string got = index.apply(text);
            if (got != expected) {
                std::string dump;
                for (const DictRow& r : rows)
                    dump += "  [" + r.term + "] -> [" + r.replacement + "]" + (r.enabled ? "" : " (off)") + "\n";
                FAIL() << "round " << round << "\ntext: [" << text << "]\nexpected: [" << expected << "]\ngot: ["
                       << got << "]\ndictionary:\n"
                       << dump;
            }
        }
    }
}

}  // namespace
