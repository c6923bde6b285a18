#include "ui/main/HomePage.h"

#include "cloud/BackendClient.h"
#include "platform/NotificationCenter.h"
#include "ui/kit/Kestal.h"
#include "ui/kit/KestalErrorText.h"
#include "ui/kit/KestalSecondaryButtonStyle.h"
#include "platform/Symbols.h"
#include "ui/main/LinkCard.h"
#include "ui/main/PageHeader.h"
#include "ui/main/ShareStats.h"
#include "ui/main/StatCard2.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <cmath>
#include <limits>

namespace {

const QColor kCyan(100, 210, 255);
const QColor kBlue(10, 132, 255);
const QColor kPink(255, 55, 95);

// The integer part of a non-negative count of seconds, safe for any double.
long long wholeSeconds(double seconds) {
    if (!(seconds > 0)) return 0;
    if (seconds >= 9.0e18) return std::numeric_limits<long long>::max();
    return static_cast<long long>(seconds);
}

}  // namespace

QString HomePage::wpm(const Database::Stats& stats) {
    if (!(stats.seconds > 5)) return QString::fromUtf8("\u2014");
    const double pace = static_cast<double>(stats.words) / (stats.seconds / 60.0);
    if (!(pace > 0)) return "0";
    if (pace >= 9.0e18) return QString::number(std::numeric_limits<long long>::max());
    return QString::number(static_cast<long long>(std::trunc(pace)));
}

QString HomePage::speakingTime(double seconds) {
    const long long s = wholeSeconds(seconds);
    if (s >= 3600) return QString("%1h %2m").arg(s / 3600).arg((s % 3600) / 60);
    if (s < 60) return QString("%1s").arg(s);
    return QString("%1m %2s").arg(s / 60).arg(s % 60);
}

HomePage::HomePage(std::function<void(Page)> goTo, BackendClient& backend, Database& store, QWidget* parent)
    : QWidget(parent), goTo_(std::move(goTo)), backend_(backend), store_(store) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(20);

    auto* header = new PageHeader("square.grid.2x2", "Home", "Your usage at a glance.", this);
    auto* share = new QPushButton(Symbols::icon("square.and.arrow.up", Kestal::text), "Share stats", header);
    share->setObjectName("shareStats");
    KestalSecondaryButtonStyle::apply(share);
    connect(share, &QPushButton::clicked, this, [this] {
        exportError_->hide();
        const QString failure = ShareStats::save(stats_, wpm(stats_), window());
        exportError_->setText(failure);
        exportError_->setVisible(!failure.isEmpty());
    });
    header->addAction(share);
    column->addWidget(header);
    exportError_ = new KestalErrorText({}, this);
    exportError_->setObjectName("exportError");
    exportError_->hide();
    column->addWidget(exportError_);

    auto* figures = new QHBoxLayout;
    figures->setSpacing(12);
    const std::pair<const char*, const char*> kinds[4] = {
        {"Words", "bolt.fill"}, {"Speaking time", "timer"}, {"Recordings", "mic.fill"}, {"Avg pace", "waveform"}};
    for (int i = 0; i < 4; ++i) {
        cards_[i] = new StatCard2(kinds[i].first, {}, kinds[i].second, this);
        figures->addWidget(cards_[i], 1);
    }
    column->addLayout(figures);

    linkColumn_ = new QWidget(this);
    links_ = new QVBoxLayout(linkColumn_);
    links_->setContentsMargins(0, 0, 0, 0);
    links_->setSpacing(12);
    column->addWidget(linkColumn_);

    // An announcement from another thread arrives through this page's event loop.
    connect(&platform::NotificationCenter::shared(), &platform::NotificationCenter::posted, this,
            [this](const std::string& name) {
                if (name == Database::historyChanged) reload();
            });
    connect(&backend_, &BackendClient::changed, this, [this] { rebuildLinks(); });

    reload();
    rebuildLinks();
}

void HomePage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    reload();
}

void HomePage::reload() {
    stats_ = store_.stats();
    const QString pace = wpm(stats_);
    cards_[0]->setValue(QString::number(stats_.words));
    cards_[1]->setValue(speakingTime(stats_.seconds));
    cards_[2]->setValue(QString::number(stats_.count));
    cards_[3]->setValue(pace == QString::fromUtf8("\u2014") ? pace : pace + " wpm");
}

void HomePage::rebuildLinks() {
    while (QLayoutItem* item = links_->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            w->hide();
            w->deleteLater();
        }
        delete item;
    }
    community_ = nullptr;

    links_->addWidget(new LinkCard("book.fill", Kestal::orange, "5-minute guide",
                                   QString::fromUtf8("Hotkeys, models, Dictionary and AI enhancement \u2014 everything "
                                                     "Tovrin can do."),
                                   "Open guide", guideURL, linkColumn_));
    if (const auto& user = backend_.user()) {
        // The id goes into the query as data: anything but unreserved characters is escaped.
        const QString id = QString::fromUtf8(QUrl::toPercentEncoding(QString::fromStdString(user->id)));
        community_ = new LinkCard("paperplane.fill", kCyan, "Join the Tovrin community \u2014 get +500 credits",
                                  "Join our Telegram group, tap the bot button, and the bonus lands on this account.",
                                  "Claim +500", QString(communityBotURL) + id, linkColumn_);
        community_->setObjectName("communityCard");
        links_->addWidget(community_);
    }
    auto* makers = new QLabel("From the makers", linkColumn_);
    makers->setFont(Kestal::font(11, QFont::DemiBold));
    makers->setStyleSheet(QString("color: %1; padding-top: 8px;").arg(Kestal::css(Kestal::dim)));
    links_->addWidget(makers);
    links_->addWidget(new LinkCard("newspaper.fill", kBlue, newsTitle,
                                   QString::fromUtf8("The latest in AI, curated daily. Stay ahead \u2014 read today's news."),
                                   "Read news", newsURL, linkColumn_));
    links_->addWidget(new LinkCard("camera.fill", kPink, "Follow on Instagram",
                                   QString(instagramAccount) +
                                       QString::fromUtf8(" \u2014 behind the scenes, tips and updates."),
                                   "Follow", instagramURL, linkColumn_));
}
