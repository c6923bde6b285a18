// A read-only memory mapping of a whole file. Its pages become resident as they are read and
// can be given back range by range once what they hold has been copied elsewhere.
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

    // Drops this process's pages of [p, p + n), rounded inwards to whole pages (the pages at
    // the ends may hold a neighbour's bytes). Reading the range again maps it again.
    void release(const void* p, std::size_t n) const;
    // Maps [p, p + n) in one go (faster than page by page), where the system can.
    void populate(const void* p, std::size_t n) const;

private:
    const uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace speech
