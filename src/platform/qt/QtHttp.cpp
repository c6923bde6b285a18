#include "platform/qt/QtHttp.h"

#include "platform/Log.h"

#include <QCoreApplication>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QRandomGenerator>
#include <QUrl>
#include <QUuid>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <coroutine>
#include <memory>

namespace platform {

namespace {

// A jar that never keeps anything: every session is ephemeral.
class NoCookies : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    bool setCookiesFromUrl(const QList<QNetworkCookie>&, const QUrl&) override { return false; }
    QList<QNetworkCookie> cookiesForUrl(const QUrl&) const override { return {}; }
};

bool iequals(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::tolower((unsigned char)x) == std::tolower((unsigned char)y); });
}

std::atomic<double> g_timeoutLimit{0};

QNetworkRequest makeRequest(const HttpRequest& r, double sessionTimeout) {
    QNetworkRequest req(QUrl(QString::fromStdString(r.url), QUrl::StrictMode));
    for (const auto& [name, value] : r.headers)
        req.setRawHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
    double t = r.timeout > 0 ? r.timeout : sessionTimeout;
    if (const double limit = g_timeoutLimit.load(); limit > 0 && (t <= 0 || t > limit)) t = limit;
    if (t > 0) req.setTransferTimeout(static_cast<int>(t * 1000));
    req.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    req.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    req.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    return req;
}

HttpError::Kind kindOf(QNetworkReply::NetworkError e) {
    switch (e) {
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:  // transfer time-outs abort the reply
        return HttpError::Kind::TimedOut;
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::UnknownNetworkError:
        return HttpError::Kind::CannotConnect;
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::ProtocolInvalidOperationError:
        return HttpError::Kind::BadUrl;
    default:
        return HttpError::Kind::Other;
    }
}

// The transfer's failure. A time-out aborts the reply, whose own text then reads "Operation
// canceled": it is named for what happened instead.
HttpError failureOf(QNetworkReply* reply) {
    const HttpError::Kind kind = kindOf(reply->error());
    const std::string message =
        kind == HttpError::Kind::TimedOut ? "the transfer timed out" : reply->errorString().toStdString();
    return HttpError(kind, reply->url().host().toStdString(), message);
}

// A reply that refuses the request is logged with its status alone: the body may quote what was
// sent. The address is given without its query.
void logRefusal(QNetworkReply* reply, int status) {
    if (status < 400) return;
    const QUrl url = reply->url();
    const QByteArray verb = reply->request().attribute(QNetworkRequest::CustomVerbAttribute).toByteArray();
    qCWarning(logPlatform, "%s %s%s: HTTP %d", verb.isEmpty() ? "request" : verb.constData(),
              qUtf8Printable(url.host()), qUtf8Printable(url.path()), status);
}

HttpResponse collect(QNetworkReply* reply, bool withBody) {
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        throw failureOf(reply);
    }
    // A reply whose transfer broke off after the headers is a transport failure, not a reply;
    // so is the last of a chain of redirects that never ends.
    switch (reply->error()) {
    case QNetworkReply::TooManyRedirectsError:
    case QNetworkReply::InsecureRedirectError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProtocolFailure:
        throw failureOf(reply);
    default:
        break;
    }
    HttpResponse out;
    out.status = status.toInt();
    logRefusal(reply, out.status);
    for (const auto& pair : reply->rawHeaderPairs())
        out.headers.emplace_back(pair.first.toStdString(), pair.second.toStdString());
    if (withBody) out.body = reply->readAll().toStdString();
    return out;
}

// A reply owned by the coroutine that sent it. It is released with deleteLater(), never deleted
// on the spot: the reply's own code may still be on the stack (an abort on time-out emits
// finished() and then goes on using the reply). It may also be gone already when its session was
// closed first.
class ReplyHandle {
public:
    explicit ReplyHandle(QNetworkReply* reply) : reply_(reply) {}
    ~ReplyHandle() {
        if (reply_) reply_->deleteLater();
    }
    ReplyHandle(const ReplyHandle&) = delete;
    ReplyHandle& operator=(const ReplyHandle&) = delete;
    QNetworkReply* get() const { return reply_.data(); }
    QNetworkReply* operator->() const { return reply_.data(); }
    explicit operator bool() const { return !reply_.isNull(); }

private:
    QPointer<QNetworkReply> reply_;
};

// Waits for a reply to end, then resumes the coroutine from the event loop, not from inside the
// reply's finished() signal: what runs after the wait (the caller's code included) may release
// the reply or the whole session, which must not happen while the reply is still emitting. A
// reply destroyed before it ends (its session closed) ends the wait too.
struct ReplyEnd {
    QPointer<QNetworkReply> reply;

    bool await_ready() const { return !reply || reply->isFinished(); }
    void await_suspend(std::coroutine_handle<> h) const {
        auto once = std::make_shared<bool>(false);
        auto resumeLater = [h, once] {
            if (*once) return;
            *once = true;
            // Without an application (its end) there is no loop left to resume in.
            if (auto* app = QCoreApplication::instance())
                QMetaObject::invokeMethod(app, [h] { h.resume(); }, Qt::QueuedConnection);
        };
        QObject::connect(reply, &QNetworkReply::finished, QCoreApplication::instance(), resumeLater);
        QObject::connect(reply, &QObject::destroyed, QCoreApplication::instance(), resumeLater);
    }
    void await_resume() const noexcept {}
};

// Marks the replies that a closing session aborts (their error reads like a time-out's).
constexpr const char* kClosedBySession = "closedBySession";

bool closed(const ReplyHandle& reply) { return !reply || reply->property(kClosedBySession).toBool(); }

HttpError closedSession(const QUrl& url) {
    return HttpError(HttpError::Kind::Cancelled, url.host().toStdString(), "the session was closed");
}

}  // namespace

std::string HttpResponse::header(const std::string& name) const {
    for (const auto& [k, v] : headers)
        if (iequals(k, name)) return v;
    return {};
}

std::unique_ptr<Http> Http::create(double sessionTimeout) { return std::make_unique<QtHttp>(sessionTimeout); }

void Http::setTimeoutLimit(double seconds) { g_timeoutLimit.store(seconds > 0 ? seconds : 0); }

QtHttp::QtHttp(double sessionTimeout) : sessionTimeout_(sessionTimeout) {}

QtHttp::~QtHttp() {
    if (!manager_) return;
    // Requests still out end as cancelled: aborting one ends its wait (after this returns), and
    // the manager, which owns the replies, goes once the loop is back in control.
    for (QNetworkReply* reply : manager_->findChildren<QNetworkReply*>(Qt::FindDirectChildrenOnly)) {
        reply->setProperty(kClosedBySession, true);
        reply->abort();
    }
    if (QCoreApplication::instance()) manager_->deleteLater();
    else delete manager_;
}

QNetworkAccessManager* QtHttp::manager() {
    if (!manager_) {
        manager_ = new QNetworkAccessManager;
        manager_->setCookieJar(new NoCookies(manager_));
        manager_->setCache(nullptr);
        manager_->setAutoDeleteReplies(false);
    }
    return manager_;
}

Task<HttpResponse> QtHttp::send(HttpRequest request) {
    const QUrl url(QString::fromStdString(request.url), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        throw HttpError(HttpError::Kind::BadUrl, url.host().toStdString(), "unsupported URL");
    QNetworkRequest req = makeRequest(request, sessionTimeout_);
    ReplyHandle reply(manager()->sendCustomRequest(req, QByteArray::fromStdString(request.method),
                                                   QByteArray::fromStdString(request.body)));
    ReplyEnd end{reply.get()};  // named: GCC 12 mishandles temporary awaiters
    co_await end;
    if (closed(reply)) throw closedSession(url);
    co_return collect(reply.get(), true);
}

Task<HttpResponse> QtHttp::download(HttpRequest request, std::string destinationPath, Progress progress) {
    const QUrl url(QString::fromStdString(request.url), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        throw HttpError(HttpError::Kind::BadUrl, url.host().toStdString(), "unsupported URL");
    auto file = std::make_shared<QFile>(QString::fromStdString(destinationPath));
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw HttpError(HttpError::Kind::Other, url.host().toStdString(), "cannot write " + destinationPath);
    QNetworkRequest req = makeRequest(request, sessionTimeout_);
    ReplyHandle reply(manager()->sendCustomRequest(req, QByteArray::fromStdString(request.method),
                                                   QByteArray::fromStdString(request.body)));
    auto writeFailed = std::make_shared<bool>(false);
    QNetworkReply* raw = reply.get();
    QObject::connect(raw, &QNetworkReply::readyRead, raw, [raw, file, writeFailed] {
        const QByteArray chunk = raw->readAll();
        if (file->write(chunk) != chunk.size()) {
            *writeFailed = true;
            raw->abort();
        }
    });
    if (progress) {
        // Without a Content-Length the total is unknown (-1), even in the last report, where Qt
        // gives the received size as the total.
        QObject::connect(raw, &QNetworkReply::downloadProgress, raw, [progress, raw](qint64 received, qint64 total) {
            const bool announced = raw->header(QNetworkRequest::ContentLengthHeader).isValid();
            progress(received, announced ? total : -1);
        });
    }
    ReplyEnd end{raw};
    co_await end;
    if (closed(reply)) {
        file->close();
        throw closedSession(url);
    }
    // An aborted reply (a time-out) is closed: nothing is left to read.
    if (reply->isOpen()) {
        const QByteArray rest = reply->readAll();
        if (!rest.isEmpty() && file->write(rest) != rest.size()) *writeFailed = true;
    }
    file->close();
    if (*writeFailed) throw HttpError(HttpError::Kind::Other, url.host().toStdString(), "cannot write " + destinationPath);
    co_return collect(reply.get(), false);
}

namespace http {

std::string percentEncode(const std::string& text, const std::string& alsoAllowed) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' ||
            alsoAllowed.find(static_cast<char>(c)) != std::string::npos) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

std::string hostOf(const std::string& url) { return QUrl(QString::fromStdString(url)).host().toStdString(); }

std::string makeUuid() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString(); }

}  // namespace http

}  // namespace platform
