// libFuzzer target: the input is a Content-Type line, a newline, then the body. Parsing must
// refuse bad input cleanly, and every part it returns must lie inside the body.
#include "server/MultipartForm.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t eol = input.find('\n');
    const std::string_view contentType = input.substr(0, eol);
    const std::string_view body = eol == std::string_view::npos ? std::string_view{} : input.substr(eol + 1);
    try {
        const std::string boundary = server::MultipartForm::boundaryOf(contentType);
        const auto form = server::MultipartForm::parse(body, boundary);
        if (form.parts().empty()) __builtin_trap();
        for (const auto& part : form.parts()) {
            if (part.name.empty()) __builtin_trap();
            if (part.data.data() < body.data() || part.data.data() + part.data.size() > body.data() + body.size())
                __builtin_trap();
        }
        (void)form.find("file");
    } catch (const server::MultipartForm::Error&) {
    }
    return 0;
}
