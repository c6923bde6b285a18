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
    void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    int e = errno;
    ::close(fd);
    if (p == MAP_FAILED) throw Error("cannot map model file " + path + ": " + std::strerror(e));
    data_ = static_cast<const uint8_t*>(p);
}

MappedFile::~MappedFile() {
    if (data_) ::munmap(const_cast<uint8_t*>(data_), size_);
}

}  // namespace speech
