#pragma once

#include "platform/Process.h"

class QProcess;

namespace platform {

// A child process over QProcess. Destroying it while the child runs does not kill or wait for
// the child: the QProcess stays alive until the child ends and then deletes itself.
class QtProcess : public Process {
public:
    QtProcess();
    ~QtProcess() override;

    bool launch(const ProcessSpec& spec) override;
    void setTerminationHandler(std::function<void(int status)> handler) override;
    void terminate() override;
    long pid() const override;

private:
    QProcess* process_;
    std::shared_ptr<std::function<void(int)>> handler_;
};

}  // namespace platform
