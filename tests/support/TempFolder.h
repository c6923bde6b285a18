// A fresh folder under the system's temporary folder, removed with everything in it at the end.
#pragma once

#include <string>

namespace test {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    // Writes a file below the folder (parents created); returns its full path.
    std::string write(const std::string& relative, const std::string& content) const;

private:
    std::string path_;
};

}  // namespace test
