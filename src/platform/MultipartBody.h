// A multipart/form-data request body, built part by part in the order the parts are added.
#pragma once

#include <string>

namespace platform {

class MultipartBody {
public:
    explicit MultipartBody(std::string boundary);

    // A text part.
    MultipartBody& field(const std::string& name, const std::string& value);
    // A file part with its file name and content type.
    MultipartBody& file(const std::string& name, const std::string& filename, const std::string& contentType,
                        const std::string& data);

    // The Content-Type header value that names the boundary.
    std::string contentType() const;
    // The whole body, closing delimiter included.
    std::string finish() const;

private:
    void open(const std::string& disposition);

    std::string boundary_;
    std::string body_;
};

}  // namespace platform
