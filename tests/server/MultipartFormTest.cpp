#include "server/MultipartForm.h"

#include <gtest/gtest.h>

using server::MultipartForm;

namespace {

const std::string kBoundary = "Wendaro-2F6C0D4E-8E1B-4B44-9B5A-0E3C5D7A9F11";

std::string field(const std::string& name, const std::string& value) {
    return "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}

// The body the desktop program sends, byte for byte.
std::string clientBody(const std::string& wav, const std::string& lang) {
    std::string body = "--" + kBoundary + "\r\n";
    body += "Content-Disposition: form-data; name=\"file\"; filename=\"audio.wav\"\r\n";
    body += "Content-Type: audio/wav\r\n\r\n";
    body += wav + "\r\n";
    if (lang != "auto") body += field("language", lang);
    body += field("response_format", "json");
    body += "--" + kBoundary + "--\r\n";
    return body;
}

}  // namespace

TEST(MultipartForm, ReadsTheClientRequests) {
    // Binary content that contains line breaks, dashes and a near-boundary.
    const std::string wav = std::string("RIFF\0\r\n--Wendaro-\r\n--", 21) + "\xff\x00\r\n";
    const std::string withLanguage = clientBody(wav, "en");
    const auto form = MultipartForm::parse(withLanguage, kBoundary);
    ASSERT_EQ(form.parts().size(), 3u);
    const auto* file = form.find("file");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->data, wav);
    EXPECT_EQ(file->filename, "audio.wav");
    EXPECT_EQ(file->contentType, "audio/wav");
    EXPECT_EQ(form.find("language")->data, "en");
    EXPECT_EQ(form.find("response_format")->data, "json");

    const std::string automatic = clientBody(wav, "auto");
    const auto autoForm = MultipartForm::parse(automatic, kBoundary);
    EXPECT_EQ(autoForm.parts().size(), 2u);
    EXPECT_EQ(autoForm.find("language"), nullptr);

    // The warm-up: one file part, an empty WAV would still be a part.
    const std::string warmup = "--warmup-X\r\nContent-Disposition: form-data; name=\"file\"; filename=\"w.wav\"\r\n"
                               "Content-Type: audio/wav\r\n\r\n" + wav + "\r\n--warmup-X--\r\n";
    const auto warm = MultipartForm::parse(warmup, "warmup-X");
    ASSERT_EQ(warm.parts().size(), 1u);
    EXPECT_EQ(warm.find("file")->data, wav);
}

TEST(MultipartForm, ParsesBoundaryParameter) {
    EXPECT_EQ(MultipartForm::boundaryOf("multipart/form-data; boundary=" + kBoundary), kBoundary);
    EXPECT_EQ(MultipartForm::boundaryOf("Multipart/Form-Data;charset=utf-8; BOUNDARY=\"a b:c\""), "a b:c");
    for (const char* bad : {"", "audio/wav", "multipart/form-data", "multipart/form-data; boundary=",
                            "multipart/form-data; boundary=\"unterminated", "multipart/mixed; boundary=x",
                            "multipart/form-data; boundary=has{brace}"}) {
        EXPECT_THROW(MultipartForm::boundaryOf(bad), MultipartForm::Error) << bad;
    }
    EXPECT_THROW(MultipartForm::boundaryOf("multipart/form-data; boundary=" + std::string(71, 'x')),
                 MultipartForm::Error);
}

TEST(MultipartForm, AcceptsPreambleEpilogueAndHeaderCase) {
    const std::string body = "preamble text\r\n--" + kBoundary +
                             "  \r\ncontent-disposition: FORM-DATA; filename=\"x;y.wav\"; name=file\r\n\r\nDATA\r\n--" +
                             kBoundary + "--\r\nepilogue";
    const auto form = MultipartForm::parse(body, kBoundary);
    ASSERT_NE(form.find("file"), nullptr);
    EXPECT_EQ(form.find("file")->data, "DATA");
    EXPECT_EQ(form.find("file")->filename, "x;y.wav");
}

TEST(MultipartForm, RefusesMalformedBodies) {
    const std::string b = "--" + kBoundary;
    const std::string good = clientBody("WAV", "en");
    std::string tooMany;
    for (std::size_t i = 0; i <= MultipartForm::kMaxParts; ++i) tooMany += field("f" + std::to_string(i), "v");
    tooMany += b + "--\r\n";

    const struct {
        const char* what;
        std::string body;
    } cases[] = {
        {"empty", ""},
        {"no boundary at all", "just some bytes"},
        {"other boundary", "--other\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\nx\r\n--other--\r\n"},
        {"no parts", b + "--\r\n"},
        {"cut in the middle", good.substr(0, good.size() / 2)},
        {"no closing boundary", good.substr(0, good.size() - b.size() - 4)},
        {"headers never end", b + "\r\nContent-Disposition: form-data; name=\"file\"\r\n"},
        {"garbage after boundary", b + "xyz\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nv\r\n" + b + "--"},
        {"no disposition", b + "\r\nContent-Type: audio/wav\r\n\r\nv\r\n" + b + "--"},
        {"no name", b + "\r\nContent-Disposition: form-data; filename=\"a.wav\"\r\n\r\nv\r\n" + b + "--"},
        {"not form-data", b + "\r\nContent-Disposition: attachment; name=\"a\"\r\n\r\nv\r\n" + b + "--"},
        {"header without colon", b + "\r\nContent-Disposition form-data\r\n\r\nv\r\n" + b + "--"},
        {"huge header", b + "\r\nContent-Disposition: form-data; name=\"a\"\r\nX: " + std::string(9000, 'h') +
                            "\r\n\r\nv\r\n" + b + "--"},
        {"too many parts", tooMany},
    };
    for (const auto& c : cases) EXPECT_THROW(MultipartForm::parse(c.body, kBoundary), MultipartForm::Error) << c.what;
}
