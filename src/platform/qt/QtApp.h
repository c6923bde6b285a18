// The application as Qt runs it on this desktop.
#pragma once

#include "platform/App.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <vector>

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
    void bringVisibleWindowsForward() override;
    // The shown window that is (or goes) in front: the one the user worked in last, else the
    // one shown last; null when none is shown.
    QWidget* frontWindow() const;

private:
    static std::vector<QWidget*> visibleWindows();

    bool regular_ = false;
    // Reads the two fields around it, so it goes with this object.
    std::unique_ptr<QObject> filter_;
    QPointer<QWidget> lastActive_;
};

}  // namespace platform
