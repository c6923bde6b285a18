#include "platform/AppcastUpdater.h"

#include "platform/Http.h"
#include "platform/Log.h"

#include <QDesktopServices>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QUrl>
#include <QXmlStreamReader>

#include <algorithm>

namespace platform {

AppcastUpdater::AppcastUpdater(std::string feedUrl) : feedUrl_(std::move(feedUrl)) {}

void AppcastUpdater::checkForUpdates() {
    if (checking_) return;
    check();
}

int AppcastUpdater::compareVersions(const std::string& a, const std::string& b) {
    const QStringList pa = QString::fromStdString(a).split('.');
    const QStringList pb = QString::fromStdString(b).split('.');
    for (int i = 0; i < std::max(pa.size(), pb.size()); ++i) {
        const int x = i < pa.size() ? pa[i].toInt() : 0;
        const int y = i < pb.size() ? pb[i].toInt() : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

std::optional<AppcastItem> AppcastUpdater::newestNewer(const std::string& feedXml, const std::string& currentVersion) {
    QXmlStreamReader xml(QByteArray::fromStdString(feedXml));
    std::optional<AppcastItem> best;
    AppcastItem item;
    bool inItem = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const QString name = xml.qualifiedName().toString();
            if (name == "item") {
                inItem = true;
                item = {};
            } else if (inItem && name == "enclosure") {
                const auto attrs = xml.attributes();
                item.downloadUrl = attrs.value("url").toString().toStdString();
                for (const auto& a : attrs)
                    if (a.qualifiedName() == QLatin1String("sparkle:shortVersionString") ||
                        (item.version.empty() && a.qualifiedName() == QLatin1String("sparkle:version")))
                        item.version = a.value().toString().toStdString();
            } else if (inItem && (name == "sparkle:shortVersionString" || name == "sparkle:version")) {
                const std::string v = xml.readElementText().trimmed().toStdString();
                if (name == "sparkle:shortVersionString" || item.version.empty()) item.version = v;
            } else if (inItem && name == "link" && item.downloadUrl.empty()) {
                item.downloadUrl = xml.readElementText().trimmed().toStdString();
            }
        } else if (xml.isEndElement() && xml.qualifiedName() == QLatin1String("item")) {
            inItem = false;
            if (!item.version.empty() && !item.downloadUrl.empty() && compareVersions(item.version, currentVersion) > 0 &&
                (!best || compareVersions(item.version, best->version) > 0))
                best = item;
        }
    }
    return best;
}

namespace {

// A message box wraps its explanation at the width its short headline needs, a narrow column of
// many lines; the explanation gets the width of a comfortable line of text instead.
void fitToText(QMessageBox& box) {
    auto* label = box.findChild<QLabel*>("qt_msgbox_informativelabel");
    if (!label) return;
    const QFontMetrics metrics(label->font());
    label->setMinimumWidth(std::min(metrics.horizontalAdvance(label->text()), metrics.averageCharWidth() * 56));
}

}  // namespace

Task<> AppcastUpdater::check() {
    checking_ = true;
    auto http = Http::create(30);
    std::optional<AppcastItem> found;
    QString problem;
    try {
        HttpRequest request;
        request.url = feedUrl_;
        const HttpResponse response = co_await http->send(request);
        if (response.status == 200)
            found = newestNewer(response.body, TOVRIN_VERSION);
        else
            problem = QString("The update feed answered with status %1.").arg(response.status);
    } catch (const HttpError& e) {
        qCWarning(logPlatform, "the update feed cannot be read (%s): %s", e.host().c_str(), e.what());
        problem = QString::fromStdString(e.what());
    }
    checking_ = false;
    QMessageBox box;
    if (!problem.isEmpty()) {
        box.setIcon(QMessageBox::Warning);
        box.setText("Update Error!");
        box.setInformativeText("An error occurred in retrieving update information. " + problem);
        box.addButton(QMessageBox::Ok);
        fitToText(box);
        box.exec();
    } else if (!found) {
        box.setText("You're up to date!");
        box.setInformativeText(QString("Tovrin %1 is currently the newest version available.").arg(TOVRIN_VERSION));
        box.addButton(QMessageBox::Ok);
        fitToText(box);
        box.exec();
    } else {
        box.setText("A new version of Tovrin is available!");
        box.setInformativeText(QString("Tovrin %1 is now available—you have %2. Would you like to download it now?")
                                   .arg(QString::fromStdString(found->version), TOVRIN_VERSION));
        QPushButton* download = box.addButton("Download", QMessageBox::AcceptRole);
        box.addButton("Remind Me Later", QMessageBox::RejectRole);
        fitToText(box);
        box.exec();
        if (box.clickedButton() == download)
            QDesktopServices::openUrl(QUrl(QString::fromStdString(found->downloadUrl)));
    }
}

}  // namespace platform
