#pragma once

#include "platform/Http.h"

class QNetworkAccessManager;

namespace platform {

class QtHttp : public Http {
public:
    explicit QtHttp(double sessionTimeout);
    ~QtHttp() override;

    Task<HttpResponse> send(HttpRequest request) override;
    Task<HttpResponse> download(HttpRequest request, std::string destinationPath, Progress progress) override;

private:
    QNetworkAccessManager* manager();

    double sessionTimeout_;
    QNetworkAccessManager* manager_ = nullptr;
};

}  // namespace platform
