#include "platform/CrashReporter.h"

#include "platform/Http.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QUrl>
#include <QUuid>

#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

namespace platform::CrashReporter {

namespace fs = std::filesystem;

namespace {

// Prepared before any crash, so the handler only calls async-signal-safe functions.
char g_crashPath[4096];
constexpr int kSignals[] = {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL};

void writeAll(int fd, const char* s, std::size_t n) {
    while (n > 0) {
        const ssize_t w = write(fd, s, n);
        if (w <= 0) return;
        s += w;
        n -= static_cast<std::size_t>(w);
    }
}

void onCrash(int sig) {
    const int fd = open(g_crashPath, O_CREAT | O_WRONLY | O_TRUNC, 0600);
    if (fd >= 0) {
        char line[32] = "signal ";
        int n = 7;
        char digits[12];
        int d = 0;
        int v = sig;
        do {
            digits[d++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v && d < 11);
        while (d) line[n++] = digits[--d];
        line[n++] = '\n';
        writeAll(fd, line, static_cast<std::size_t>(n));
        void* frames[64];
        const int count = backtrace(frames, 64);
        backtrace_symbols_fd(frames, count, fd);
        close(fd);
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

std::string signalName(int sig) {
    switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGABRT: return "SIGABRT";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    default: return "signal " + std::to_string(sig);
    }
}

std::string envelopeFor(const std::string& record, const std::string& dsn) {
    std::istringstream in(record);
    std::string first;
    std::getline(in, first);
    int sig = 0;
    if (first.rfind("signal ", 0) == 0) sig = std::atoi(first.c_str() + 7);
    QJsonArray frames;
    std::string line;
    while (std::getline(in, line)) frames.prepend(QJsonObject{{"function", QString::fromStdString(line)}});
    const QString id = QUuid::createUuid().toString(QUuid::Id128);
    QJsonObject exception{{"type", QString::fromStdString(signalName(sig))},
                          {"value", QString("Fatal signal %1").arg(sig)},
                          {"mechanism", QJsonObject{{"type", "signalhandler"}, {"handled", false}}},
                          {"stacktrace", QJsonObject{{"frames", frames}}}};
    QJsonObject event{{"event_id", id},
                      {"timestamp", QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
                      {"platform", "native"},
                      {"level", "fatal"},
                      {"release", QString("tovrin@") + TOVRIN_VERSION},
                      {"contexts", QJsonObject{{"os", QJsonObject{{"name", QSysInfo::productType()},
                                                                   {"version", QSysInfo::productVersion()},
                                                                   {"kernel_version", QSysInfo::kernelVersion()}}}}},
                      {"exception", QJsonObject{{"values", QJsonArray{exception}}}}};
    const QByteArray payload = QJsonDocument(event).toJson(QJsonDocument::Compact);
    QJsonObject header{{"event_id", id}, {"dsn", QString::fromStdString(dsn)}};
    QJsonObject item{{"type", "event"}, {"length", payload.size()}};
    return (QJsonDocument(header).toJson(QJsonDocument::Compact) + "\n" +
            QJsonDocument(item).toJson(QJsonDocument::Compact) + "\n" + payload + "\n")
        .toStdString();
}

}  // namespace

std::string pendingFolder() { return Paths::logs() + "/Tovrin/crashes"; }

Endpoint endpointFor(const std::string& dsn) {
    const QUrl url(QString::fromStdString(dsn), QUrl::StrictMode);
    const QString key = url.userName();
    const QString project = url.path().mid(1);
    if (!url.isValid() || url.host().isEmpty() || key.isEmpty() || project.isEmpty() || project.contains('/'))
        return {};
    QString base = url.scheme() + "://" + url.host();
    if (url.port() > 0) base += ":" + QString::number(url.port());
    return {(base + "/api/" + project + "/envelope/").toStdString(),
            ("Sentry sentry_version=7, sentry_client=tovrin/" TOVRIN_VERSION ", sentry_key=" + key).toStdString()};
}

Task<int> sendPending(const CrashReporterOptions& options) {
    const Endpoint endpoint = endpointFor(options.dsn);
    int sent = 0;
    std::error_code ec;
    if (endpoint.url.empty() || !fs::is_directory(pendingFolder(), ec)) co_return 0;
    std::vector<fs::path> records;
    for (const auto& entry : fs::directory_iterator(pendingFolder(), ec))
        if (entry.path().extension() == ".crash") records.push_back(entry.path());
    auto http = Http::create(30);
    for (const auto& path : records) {
        std::ifstream in(path);
        std::stringstream body;
        body << in.rdbuf();
        HttpRequest request;
        request.method = "POST";
        request.url = endpoint.url;
        request.headers = {{"Content-Type", "application/x-sentry-envelope"}, {"X-Sentry-Auth", endpoint.authHeader}};
        request.body = envelopeFor(body.str(), options.dsn);
        try {
            const HttpResponse response = co_await http->send(request);
            if (response.status >= 200 && response.status < 300) {
                fs::remove(path, ec);
                ++sent;
            }
        } catch (const HttpError& e) {
            qCWarning(logPlatform, "crash reports wait for the next start (%s): %s", e.host().c_str(), e.what());
            break;  // offline: try again at the next start
        }
    }
    co_return sent;
}

void start(const CrashReporterOptions& options) {
    // The logs (the engine's among them) and the crash records are the user's alone, also when an
    // older run left them readable by others.
    Paths::makePrivateFolder(Paths::logs() + "/Tovrin");
    Paths::makePrivateFolder(pendingFolder());
    const std::string path =
        pendingFolder() + "/" + std::to_string(std::time(nullptr)) + "-" + std::to_string(getpid()) + ".crash";
    std::strncpy(g_crashPath, path.c_str(), sizeof g_crashPath - 1);
    for (int sig : kSignals) signal(sig, onCrash);
    sendPending(options);
}

}  // namespace platform::CrashReporter
