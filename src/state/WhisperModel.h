// One entry of the on-device model catalogue.
#pragma once

#include <string>

struct WhisperModel {
    std::string id;
    std::string name;
    int sizeMB = 0;  // approximate download size, for display
    std::string note;

    // The file name on disk and on the model host: "ggml-" + id + ".bin".
    std::string fileName() const { return "ggml-" + id + ".bin"; }
    // Where the model file is downloaded from: the host's base address + fileName().
    std::string url() const;

    // The base address of the model file host (ends with "/"): the "modelBaseURL" default when
    // it is an https address or an http address on this machine (a mirror, a test's loopback
    // host), else the public host. Read on every use.
    static std::string downloadBase();
    static const char* kDefaultDownloadBase;
    static constexpr const char* kBaseDefault = "modelBaseURL";

    bool operator==(const WhisperModel&) const = default;
};
