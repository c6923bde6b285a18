#include "MappedFile.h"

#include "speech/Recognizer.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace speech {

MappedFile::MappedFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw Error("cannot open model file " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        int e = errno;
        ::close(fd);
        throw Error("cannot read model file " + path + ": " + std::strerror(e));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        throw Error("model path " + path + " is not a regular file");
    }
    size_ = std::size_t(st.st_size);
    if (size_ == 0) {
        ::close(fd);
        throw Error("model file " + path + " is empty");
    }
    // Not populated: the loader reads tensor by tensor and gives each tensor's pages back
    // once it is copied, so the whole file is never resident at once. The read-ahead starts
    // now, into the page cache, which keeps a cold load as fast as a populated mapping.
    void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    int e = errno;
    ::close(fd);
    if (p == MAP_FAILED) throw Error("cannot map model file " + path + ": " + std::strerror(e));
    data_ = static_cast<const uint8_t*>(p);
    ::madvise(p, size_, MADV_WILLNEED);
}

void MappedFile::populate(const void* p, std::size_t n) const {
#ifdef MADV_POPULATE_READ
    const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<uintptr_t>(p) / page * page;
    const auto end = (reinterpret_cast<uintptr_t>(p) + n + page - 1) / page * page;
    ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_READ);
#endif
}

void MappedFile::release(const void* p, std::size_t n) const {
    const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<uintptr_t>(p) + page - 1) / page * page;
    const auto end = (reinterpret_cast<uintptr_t>(p) + n) / page * page;
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

MappedFile::~MappedFile() {
    if (data_) ::munmap(const_cast<uint8_t*>(data_), size_);
}

}  // namespace speech
