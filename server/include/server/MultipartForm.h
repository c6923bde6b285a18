// A parsed multipart/form-data body. Parts refer into the body passed to parse(), which must
// outlive the form.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace server {

class MultipartForm {
public:
    class Error : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    struct Part {
        std::string name;
        std::string filename;     // empty for a plain text field
        std::string contentType;  // empty when the part names none
        std::string_view data;
    };

    static constexpr std::size_t kMaxParts = 32;
    static constexpr std::size_t kMaxHeaderBytes = 8 * 1024;  // per part
    static constexpr std::size_t kMaxBoundary = 70;

    // The boundary of a "multipart/form-data; boundary=..." Content-Type value.
    static std::string boundaryOf(std::string_view contentType);

    static MultipartForm parse(std::string_view body, std::string_view boundary);

    // The first part with that name, or null.
    const Part* find(std::string_view name) const;
    const std::vector<Part>& parts() const { return parts_; }

private:
    std::vector<Part> parts_;
};

}  // namespace server
