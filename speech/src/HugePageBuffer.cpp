#include "HugePageBuffer.h"

#include "speech/Recognizer.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/mman.h>
#include <utility>

namespace speech {

namespace {
constexpr std::size_t kHuge = std::size_t(2) << 20;
}

HugePageBuffer::HugePageBuffer(std::size_t bytes) {
    size_ = bytes;
    mapSize_ = (bytes + 2 * kHuge - 1) / kHuge * kHuge;
    map_ = ::mmap(nullptr, mapSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map_ == MAP_FAILED) {
        map_ = nullptr;
        throw Error("cannot allocate " + std::to_string(bytes >> 20) + " MiB: " + std::strerror(errno));
    }
    auto addr = reinterpret_cast<uintptr_t>(map_);
    data_ = reinterpret_cast<void*>((addr + kHuge - 1) / kHuge * kHuge);
#ifdef MADV_HUGEPAGE
    ::madvise(data_, (bytes + kHuge - 1) / kHuge * kHuge, MADV_HUGEPAGE);
#endif
}

HugePageBuffer::~HugePageBuffer() {
    if (map_) ::munmap(map_, mapSize_);
}

HugePageBuffer::HugePageBuffer(HugePageBuffer&& o) noexcept
    : map_(std::exchange(o.map_, nullptr)),
      mapSize_(std::exchange(o.mapSize_, 0)),
      data_(std::exchange(o.data_, nullptr)),
      size_(std::exchange(o.size_, 0)) {}

HugePageBuffer& HugePageBuffer::operator=(HugePageBuffer&& o) noexcept {
    if (this != &o) {
        if (map_) ::munmap(map_, mapSize_);
        map_ = std::exchange(o.map_, nullptr);
        mapSize_ = std::exchange(o.mapSize_, 0);
        data_ = std::exchange(o.data_, nullptr);
        size_ = std::exchange(o.size_, 0);
    }
    return *this;
}

bool HugePageBuffer::available() {
    std::ifstream f("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string s;
    std::getline(f, s);
    return s.find("[always]") != std::string::npos || s.find("[madvise]") != std::string::npos;
}

}  // namespace speech
