// A read-only memory mapping of a whole file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace speech {

class MappedFile {
public:
    explicit MappedFile(const std::string& path);  // throws speech::Error
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    const uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    const uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace speech
