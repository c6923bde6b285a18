// The Home page: four figures over the whole stored history (words, speaking time, recordings,
// pace), a "Share stats" image export, and link cards to the guide, the community bonus (signed
// in only) and the makers' pages. Reloads when it comes on screen and on every history change.
#pragma once

#include "state/Database.h"
#include "ui/main/Page.h"

#include <QString>
#include <QWidget>

#include <functional>

class BackendClient;
class LinkCard;
class QLabel;
class QVBoxLayout;
class StatCard2;

class HomePage : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* guideURL = "https://tovrin.io/guide";
    static constexpr const char* communityBotURL = "https://t.me/TovrinBot?start=";
    static constexpr const char* newsTitle = "Tovrin AI Daily";
    static constexpr const char* newsURL = "https://daily.tovrin.io";
    static constexpr const char* instagramAccount = "@tovrin.app";
    static constexpr const char* instagramURL = "https://www.instagram.com/tovrin.app";

    HomePage(std::function<void(Page)> goTo, BackendClient& backend, Database& store, QWidget* parent = nullptr);

    // Re-reads the figures from the store.
    void reload();
    const Database::Stats& stats() const { return stats_; }

    // "—" up to 5 s of speech, else whole words per minute.
    static QString wpm(const Database::Stats& stats);
    // "42s", "2m 5s", "1h 2m".
    static QString speakingTime(double seconds);

    StatCard2* card(int index) const { return cards_[index]; }
    // The community card while a user is signed in, else null.
    LinkCard* communityCard() const { return community_; }
    // Why the last "Share stats" could not be saved; hidden when it was.
    QLabel* exportError() const { return exportError_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void rebuildLinks();

    std::function<void(Page)> goTo_;
    BackendClient& backend_;
    Database& store_;
    Database::Stats stats_;
    StatCard2* cards_[4] = {};
    QVBoxLayout* links_ = nullptr;
    QWidget* linkColumn_ = nullptr;
    LinkCard* community_ = nullptr;
    QLabel* exportError_ = nullptr;
};
