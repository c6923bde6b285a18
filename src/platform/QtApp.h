// The application as Qt runs it on this desktop.
#pragma once

#include "platform/App.h"

namespace platform {

class QtApp : public App {
public:
    void setRegular(bool regular) override;
    bool isRegular() const override { return regular_; }
    void setDarkAppearance() override;
    bool setIconImage(const std::string& path) override;
    void showAlert(const std::string& message, const std::string& informative, const std::string& button) override;
    void terminate() override;
    bool hasVisibleWindows() const override;

private:
    bool regular_ = false;
    bool filterInstalled_ = false;
};

}  // namespace platform
