// The check of a model file before it is offered or installed: the file is mapped and its
// headers parsed exactly as the loader parses them, so a file that passes here loads there.
#include "ModelFile.h"

#include "speech/Recognizer.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace speech {

namespace {

constexpr uint8_t kMagic[4] = {'l', 'm', 'g', 'g'};  // 0x67676d6c, little-endian

ModelFileCheck verdict(ModelFileCheck::Verdict v, std::string problem) { return {v, std::move(problem)}; }

}  // namespace

ModelFileCheck checkModelFile(const std::string& path) {
    using V = ModelFileCheck::Verdict;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return verdict(V::Damaged, "cannot open " + path + ": " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return verdict(V::Damaged, path + " is not a readable file");
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    if (size < sizeof kMagic) {
        ::close(fd);
        return verdict(V::Damaged, "model file is truncated: " + std::to_string(size) + " bytes");
    }
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (map == MAP_FAILED) return verdict(V::Damaged, "cannot map " + path + ": " + std::strerror(errno));
    const auto* data = static_cast<const uint8_t*>(map);
    ModelFileCheck result;
    if (std::memcmp(data, kMagic, sizeof kMagic) != 0) {
        result = verdict(V::NotAModel, "not a ggml model file");
    } else {
        try {
            parseModel(data, size);
            result = verdict(V::Whole, "");
        } catch (const std::exception& e) {
            result = verdict(V::Damaged, e.what());
        }
    }
    ::munmap(map, size);
    return result;
}

}  // namespace speech
