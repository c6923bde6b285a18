#include "platform/qt/QtProcess.h"

#include "platform/Log.h"

#include <QProcess>
#include <QStringList>

#include <csignal>

#include <sys/prctl.h>
#include <unistd.h>

namespace platform {

std::unique_ptr<Process> Process::create() { return std::make_unique<QtProcess>(); }

QtProcess::QtProcess()
    : process_(new QProcess), handler_(std::make_shared<std::function<void(int)>>()) {}

QtProcess::~QtProcess() {
    *handler_ = nullptr;
    if (process_->state() == QProcess::NotRunning) {
        delete process_;
        return;
    }
    // Let the child end on its own; the QProcess reaps it and then goes away.
    QObject::connect(process_, &QProcess::finished, process_, &QObject::deleteLater);
}

bool QtProcess::launch(const ProcessSpec& spec) {
    QStringList args;
    for (const auto& a : spec.arguments) args << QString::fromStdString(a);
    process_->setProgram(QString::fromStdString(spec.executable));
    process_->setArguments(args);
    process_->setProcessChannelMode(QProcess::MergedChannels);
    process_->setStandardInputFile(QProcess::nullDevice());
    if (spec.outputPath.empty())
        process_->setStandardOutputFile(QProcess::nullDevice());
    else
        process_->setStandardOutputFile(QString::fromStdString(spec.outputPath), QIODevice::Append);
    // The child goes with the program however the program ends (a crash, SIGKILL, exit on a lost
    // X connection): the kernel sends it SIGTERM when the thread that started it ends, and
    // children are started from the main thread only, which ends with the process. When the
    // program is already gone by the time the child asks for this, the child gives up at once.
    const pid_t parent = ::getpid();
    process_->setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
    });
    auto handler = handler_;
    QObject::connect(process_, &QProcess::finished, process_, [handler](int exitCode, QProcess::ExitStatus) {
        // For a child ended by a signal, QProcess reports the signal number as the exit code.
        if (auto h = *handler) {
            *handler = nullptr;
            h(exitCode);
        }
    });
    process_->start(QIODevice::NotOpen);
    if (process_->waitForStarted(10000)) return true;
    qCWarning(logPlatform, "cannot start %s: %s", spec.executable.c_str(), qUtf8Printable(process_->errorString()));
    return false;
}

void QtProcess::setTerminationHandler(std::function<void(int status)> handler) { *handler_ = std::move(handler); }

void QtProcess::terminate() {
    if (process_->state() != QProcess::NotRunning) process_->terminate();
}

long QtProcess::pid() const {
    return process_->state() == QProcess::NotRunning ? 0 : static_cast<long>(process_->processId());
}

}  // namespace platform
