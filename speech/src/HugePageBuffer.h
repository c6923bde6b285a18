// Anonymous memory backed by transparent huge pages where the system offers them. The
// decoder streams every weight for every token; with 4 KiB pages the page walks cost a
// good part of the memory bandwidth.
#pragma once

#include <cstddef>

namespace speech {

class HugePageBuffer {
public:
    HugePageBuffer() = default;
    explicit HugePageBuffer(std::size_t bytes);  // throws speech::Error
    ~HugePageBuffer();
    HugePageBuffer(HugePageBuffer&& other) noexcept;
    HugePageBuffer& operator=(HugePageBuffer&& other) noexcept;
    HugePageBuffer(const HugePageBuffer&) = delete;
    HugePageBuffer& operator=(const HugePageBuffer&) = delete;

    void* data() const { return data_; }
    std::size_t size() const { return size_; }

    // True when the kernel hands out huge pages on request (transparent huge pages on
    // "always" or "madvise").
    static bool available();

private:
    void* map_ = nullptr;
    std::size_t mapSize_ = 0;
    void* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace speech
