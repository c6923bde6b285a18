#include "platform/MultipartBody.h"

namespace platform {

MultipartBody::MultipartBody(std::string boundary) : boundary_(std::move(boundary)) {}

void MultipartBody::open(const std::string& disposition) {
    body_ += "--" + boundary_ + "\r\n";
    body_ += "Content-Disposition: form-data; " + disposition + "\r\n";
}

MultipartBody& MultipartBody::field(const std::string& name, const std::string& value) {
    open("name=\"" + name + "\"");
    body_ += "\r\n";
    body_ += value;
    body_ += "\r\n";
    return *this;
}

MultipartBody& MultipartBody::file(const std::string& name, const std::string& filename,
                                   const std::string& contentType, const std::string& data) {
    body_.reserve(body_.size() + data.size() + 256);
    open("name=\"" + name + "\"; filename=\"" + filename + "\"");
    body_ += "Content-Type: " + contentType + "\r\n\r\n";
    body_ += data;
    body_ += "\r\n";
    return *this;
}

std::string MultipartBody::contentType() const { return "multipart/form-data; boundary=" + boundary_; }

std::string MultipartBody::finish() const { return body_ + "--" + boundary_ + "--\r\n"; }

}  // namespace platform
