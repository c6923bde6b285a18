// A desktop's paste permission whose answer the test sets; counts the requests.
#pragma once

#include "platform/PastePermission.h"

namespace platform {

class FakePastePermission : public PastePermission {
public:
    State answer = State::notGranted;
    bool keepsGrant = false;
    int requests = 0;

    State state() override { return answer; }
    bool remembered() override { return keepsGrant; }
    void request() override {
        ++requests;
        if (answer != State::granted) answer = State::asking;
    }
};

}  // namespace platform
