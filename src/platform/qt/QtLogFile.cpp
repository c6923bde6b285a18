#include "platform/qt/QtLogFile.h"

#include "platform/Paths.h"

#include <QDateTime>
#include <QtGlobal>

#include <cstdio>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::mutex g_mutex;
std::string g_path;
std::int64_t g_limit = QtLogFile::defaultLimit;
int g_fd = -1;
QtMessageHandler g_previous = nullptr;

// Under the lock.
void openFile() {
    if (g_fd >= 0) close(g_fd);
    g_fd = open(g_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
}

// Under the lock: the current file becomes the earlier one, and a new one starts.
void rotateIfFull() {
    struct stat st {};
    if (g_fd < 0 || fstat(g_fd, &st) != 0 || st.st_size < g_limit) return;
    const std::string earlier = g_path + ".1";
    std::rename(g_path.c_str(), earlier.c_str());
    openFile();
}

const char* levelName(QtMsgType type) {
    switch (type) {
        case QtDebugMsg: return "debug";
        case QtInfoMsg: return "info";
        case QtWarningMsg: return "warning";
        case QtCriticalMsg: return "critical";
        case QtFatalMsg: return "fatal";
    }
    return "";
}

void handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    {
        std::lock_guard lock(g_mutex);
        if (g_fd >= 0) {
            const QByteArray line = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toUtf8() + ' ' +
                                    (context.category ? context.category : "default") + ' ' + levelName(type) +
                                    ": " + message.toUtf8() + '\n';
            ssize_t unused = write(g_fd, line.constData(), static_cast<size_t>(line.size()));
            (void)unused;
            rotateIfFull();
        }
    }
    if (g_previous)
        g_previous(type, context, message);
    else
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

}  // namespace

std::string QtLogFile::defaultPath() { return Paths::logs() + "/Tovrin/tovrin.log"; }

void QtLogFile::install(const std::string& path, std::int64_t limit) {
    const auto slash = path.rfind('/');
    if (slash != std::string::npos) Paths::makePrivateFolder(path.substr(0, slash));
    std::lock_guard lock(g_mutex);
    g_path = path;
    g_limit = limit;
    openFile();
    if (g_fd >= 0) fchmod(g_fd, 0600);
    rotateIfFull();
    QtMessageHandler previous = qInstallMessageHandler(handler);
    if (previous != handler) g_previous = previous;
}

void QtLogFile::uninstall() {
    std::lock_guard lock(g_mutex);
    if (g_fd >= 0) close(g_fd);
    g_fd = -1;
}

}  // namespace platform
