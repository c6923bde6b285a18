// The WAV image every transcription route sends: 16 kHz mono signed 16-bit little-endian PCM
// behind a 44-byte RIFF header.
#pragma once

#include <cstddef>
#include <string>

namespace WavImage {

// The most PCM bytes one image holds: the header's 32-bit length fields must still be right.
inline constexpr std::size_t kMaxPCMBytes = 0xFFFFFFFFull - 36 - 1;  // even, whole samples

// The image of the samples (cut to kMaxPCMBytes).
std::string make(const std::string& pcm16Mono16k);

// How long the sound of an image made by `make` lasts, in seconds (0 for less than a header).
double durationSeconds(const std::string& image);

}  // namespace WavImage
