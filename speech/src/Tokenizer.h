// The model's vocabulary: special token ids derived from n_vocab, language codes, the
// byte-level decode of ordinary tokens, and the tokens decoding never emits.
#pragma once

#include "ModelFile.h"

#include <string>
#include <vector>

namespace speech {

class Tokenizer {
public:
    Tokenizer(const HyperParams& hp, std::vector<std::string> vocab);

    bool multilingual() const { return multilingual_; }
    int eot() const { return eot_; }
    int sot() const { return sot_; }
    int translate() const { return translate_; }
    int transcribe() const { return transcribe_; }
    int noSpeech() const { return noSpeech_; }
    int noTimestamps() const { return noTimestamps_; }
    // Opens the previous window's text given as context before the start of the transcript.
    int startOfPrev() const { return translate_ + 3; }
    int languageCount() const { return nLangs_; }
    int languageToken(int index) const { return sot_ + 1 + index; }
    int vocabSize() const { return nVocab_; }

    // Index of a language code among the model's languages, or -1.
    int languageIndex(const std::string& code) const;
    std::string languageCode(int index) const;

    // Concatenated bytes of ordinary tokens (special ids are skipped), made valid UTF-8.
    std::string decode(const std::vector<int>& tokens) const;
    // The decoded text without white space at either end.
    std::string text(const std::vector<int>& tokens) const;
    const std::string& bytes(int token) const;

    // Ordinary tokens that are never sampled (symbols and music marks), sorted.
    const std::vector<int>& suppressedSymbols() const { return suppressed_; }
    int spaceToken() const { return space_; }

    // Sets the logits of every token decoding never emits to -inf: special tokens past
    // end-of-text and the suppressed symbols; for the first token also end-of-text and the
    // lone space (a transcript starts with a word).
    void suppress(float* logits, bool first) const;

private:
    std::vector<std::string> vocab_;
    int nVocab_;
    bool multilingual_;
    int eot_, sot_, translate_, transcribe_, noSpeech_, noTimestamps_, nLangs_;
    int space_ = -1;
    std::vector<int> suppressed_;
};

// Replaces invalid UTF-8 sequences by U+FFFD.
std::string sanitizeUtf8(const std::string& s);

}  // namespace speech
