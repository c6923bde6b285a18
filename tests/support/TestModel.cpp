#include "support/TestModel.h"

#include "ModelFile.h"

#include <cstdint>
#include <cstring>

namespace test {

namespace {

void put32(std::string& out, std::int32_t v) {
    char b[4];
    std::memcpy(b, &v, 4);
    out.append(b, 4);
}

std::string build(char weightByte) {
    speech::HyperParams hp{51865, 1500, 4, 1, 1, 448, 4, 1, 1, 80, 1};
    std::string out;
    put32(out, 0x67676D6C);
    for (std::int32_t v : {hp.nVocab, hp.nAudioCtx, hp.nAudioState, hp.nAudioHead, hp.nAudioLayer, hp.nTextCtx,
                           hp.nTextState, hp.nTextHead, hp.nTextLayer, hp.nMels, hp.ftype})
        put32(out, v);
    put32(out, hp.nMels);
    put32(out, 201);
    out.append(std::size_t(hp.nMels) * 201 * 4, '\0');
    put32(out, 0);  // no ordinary tokens
    for (const auto& [name, dims] : speech::expectedTensors(hp)) {
        put32(out, static_cast<std::int32_t>(dims.size()));
        put32(out, static_cast<std::int32_t>(name.size()));
        put32(out, 1);  // f16
        std::int64_t elements = 1;
        for (auto d = dims.rbegin(); d != dims.rend(); ++d) {  // innermost first
            put32(out, static_cast<std::int32_t>(*d));
            elements *= *d;
        }
        out += name;
        out.append(std::size_t(elements) * 2, weightByte);
    }
    return out;
}

}  // namespace

std::string wholeModelBytes(char weightByte) { return build(weightByte); }

}  // namespace test
