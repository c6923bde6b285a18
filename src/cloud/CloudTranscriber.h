// Speech-to-text by a cloud provider with the user's own key: one HTTPS request per recording.
#pragma once

#include "state/ProviderModels.h"
#include "state/WhisperResult.h"
#include "platform/Task.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {
class Http;
struct HttpRequest;
struct HttpResponse;
}

class CloudTranscriber {
public:
    // The providers and what is known of them are the table of ProviderModels.
    using Provider = CloudProvider;

    static const std::vector<Provider>& allProviders();
    static std::optional<Provider> providerFromRaw(const std::string& raw);
    static std::string rawValue(Provider p);
    static std::string displayName(Provider p);
    // (model id, label) pairs in order; the first is the default.
    static std::vector<std::pair<std::string, std::string>> models(Provider p);
    // The provider's public API host, e.g. "https://api.groq.com".
    static std::string defaultBaseURL(Provider p);

    // A session with the 60 s request time-out, on the providers' real hosts.
    CloudTranscriber();
    // Another session, and other base addresses for some providers (a fake on loopback in tests).
    CloudTranscriber(std::shared_ptr<platform::Http> http, std::map<Provider, std::string> baseURLs);
    // The providers' real hosts except that every provider is sent to `baseURL`.
    static std::unique_ptr<CloudTranscriber> withBaseURL(const std::string& baseURL);
    virtual ~CloudTranscriber();

    virtual platform::Task<WhisperResult> transcribe(std::string wav, std::string lang, Provider provider,
                                                     std::string model);

    // The message of a failed reply's body: the JSON error fields, else its first 160
    // user-perceived characters; nullopt when the body is empty.
    static std::optional<std::string> errorMessage(const std::string& body);
    // The multipart body: the file part first, then the text fields in order.
    static std::string multipart(const std::string& boundary, const std::string& fileField, const std::string& wav,
                                 const std::vector<std::pair<std::string, std::string>>& fields);

private:
    std::string endpoint(Provider p) const;
    // One request; a 429 asking for a pause of at most 10 s is sent once more after it.
    platform::Task<platform::HttpResponse> send(platform::HttpRequest request);
    platform::Task<WhisperResult> openAICompat(std::string wav, std::string lang, Provider provider, std::string model,
                                               std::string key);
    // The form both OpenAI-like and ElevenLabs take: the WAV file and `fields`, authorised by the
    // header `auth`; the reply's "text".
    platform::Task<WhisperResult> postForm(Provider provider, std::pair<std::string, std::string> auth, std::string wav,
                                           std::string lang, std::vector<std::pair<std::string, std::string>> fields);
    platform::Task<WhisperResult> deepgram(std::string wav, std::string lang, Provider provider, std::string model,
                                           std::string key);
    platform::Task<WhisperResult> elevenlabs(std::string wav, std::string lang, Provider provider, std::string model,
                                             std::string key);

    std::shared_ptr<platform::Http> http_;
    std::map<Provider, std::string> baseURLs_;
};
