// Model files for tests of the program: a whole ggml Whisper model as small as the format
// allows (one layer each side, width 4, zero weights). The model checks accept it; the speech
// engine could load it.
#pragma once

#include <string>

namespace test {

// The bytes of the whole model (about 0.5 MB); every weight byte is `weightByte`, so that two
// files can be told apart.
std::string wholeModelBytes(char weightByte = '\0');

}  // namespace test
