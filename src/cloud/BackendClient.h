// Client of the product's account service: sign-in, tokens, credits, metered requests.
#pragma once

#include "engine/WhisperResult.h"
#include "platform/Signal.h"
#include "platform/Task.h"

#include <string>

class BackendClient {
public:
    static BackendClient& shared();

    bool isLoggedIn() const;
    static bool hasStoredSession();

    platform::Task<void> refresh();
    platform::Task<WhisperResult> transcribeRemote(std::string wav, std::string lang);
    platform::Task<std::string> enhanceRemote(std::string text, std::string instruction, std::string language);

    // Fires after `user` or `busy` changed.
    platform::Signal<> changed;

private:
    BackendClient();
};
