// Times the History and Dictionary pages and the dictionary replacement on large stores: the
// page shown, each search keystroke, clearing the search, each add, edit and delete, the process's
// memory, and the replacement per dictation. One case per run, printed as it goes:
//   page-bench history <rows> | dictionary <terms> | apply <terms>   [--shot file.png]
// The same source builds against older trees (it uses only what the pages always had), so
// bench/ui/compare-pages.sh can run an older build and this one in turn.
#include "state/AppSettings.h"
#include "state/Database.h"
#include "dictation/DictionaryEngine.h"
#include "platform/MemoryDefaults.h"
#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "platform/qt/QtScheduler.h"
#include "ui/main/DictRowView.h"
#include "ui/main/DictionaryPage.h"
#include "ui/main/HistoryPage.h"
#include "ui/main/ToggleSwitch.h"
#include "ui/kit/Kestal.h"

#include <sqlite3.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

const std::vector<std::string> kWords = {
    "the", "meeting", "notes", "tomorrow", "project", "deploy", "server", "review", "please", "send",
    "report", "budget", "Київ", "завтра", "зустріч", "код", "draft", "call", "client", "update",
    "release", "branch", "merge", "ticket", "design", "team", "weekly", "plan", "quarter", "numbers"};

double ms(const std::function<void()>& step) {
    QElapsedTimer t;
    t.start();
    step();
    return t.nsecsElapsed() / 1e6;
}

long statusKb(const char* field) {
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field)) return line.mid(static_cast<int>(qstrlen(field))).trimmed().split(' ').front().toLong();
    return 0;
}

void say(const char* format, double value) {
    std::printf(format, value);
    std::fflush(stdout);
}

std::string sentence(std::mt19937& rng, int minWords, int maxWords) {
    std::uniform_int_distribution<int> count(minWords, maxWords);
    std::uniform_int_distribution<std::size_t> word(0, kWords.size() - 1);
    std::string out;
    const int n = count(rng);
    for (int i = 0; i < n; ++i) {
        if (i) out += ' ';
        out += kWords[word(rng)];
    }
    return out;
}

// Writes the rows straight into a fresh store file, in one transaction.
void fill(const std::string& folder, int historyRows, int terms) {
    QDir().mkpath(QString::fromStdString(folder));
    sqlite3* db = nullptr;
    sqlite3_open((folder + "/wendaro.db").c_str(), &db);
    sqlite3_exec(db, Database::schema, nullptr, nullptr, nullptr);
    sqlite3_exec(db, Database::favoriteMigration, nullptr, nullptr, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    std::mt19937 rng(7);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO history(ts,text,words,seconds,language) VALUES(?,?,?,?,?)", -1, &s, nullptr);
    for (int i = 0; i < historyRows; ++i) {
        std::string text = sentence(rng, 6, 40);
        if (i % 97 == 0) text += " zebra";  // the rare word the search looks for
        sqlite3_bind_double(s, 1, 1.7e9 + i * 60.0);
        sqlite3_bind_text(s, 2, text.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(s, 3, 20);
        sqlite3_bind_double(s, 4, 7.5);
        sqlite3_bind_text(s, 5, "en", -1, SQLITE_STATIC);
        sqlite3_step(s);
        sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    sqlite3_prepare_v2(db, "INSERT INTO dictionary(term,replacement) VALUES(?,?)", -1, &s, nullptr);
    for (int i = 0; i < terms; ++i) {
        char term[64];
        std::snprintf(term, sizeof term, "term%06d %s", i, kWords[static_cast<std::size_t>(i) % kWords.size()].c_str());
        const std::string replacement = "Term " + std::to_string(i);
        sqlite3_bind_text(s, 1, term, -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(s, 2, replacement.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(s);
        sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

// The page in a scrolling area as the main window holds it, at a common window size.
struct Host {
    QScrollArea area;
    QWidget* padded = new QWidget;
    explicit Host(QWidget* page) {
        // The main window's dark palette, so a shot shows the page as the user sees it.
        QPalette pal = area.palette();
        pal.setColor(QPalette::Window, Kestal::bg);
        pal.setColor(QPalette::WindowText, Kestal::text);
        pal.setColor(QPalette::Base, Kestal::surface);
        pal.setColor(QPalette::Text, Kestal::text);
        pal.setColor(QPalette::Button, Kestal::surface);
        pal.setColor(QPalette::ButtonText, Kestal::text);
        pal.setColor(QPalette::PlaceholderText, Kestal::faint);
        area.setPalette(pal);
        area.setWidgetResizable(true);
        area.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        auto* column = new QVBoxLayout(padded);
        column->setContentsMargins(24, 24, 24, 24);
        column->addWidget(page, 1);
        area.setWidget(padded);
        // PAGE_BENCH_SIZE=649x560 gives the page area of the smallest main window.
        const QStringList size = qEnvironmentVariable("PAGE_BENCH_SIZE", "1000x700").split('x');
        area.resize(size.value(0).toInt(), size.value(1).toInt());
        area.show();
    }
};

// What the user waits for: the work of the step, then the list laid out and painted.
void settle(QWidget& window) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
    QApplication::processEvents();
    window.repaint();
}

// Types `word` a letter at a time, then clears it: the main thread's time per keystroke, and for a
// page that reads off the main thread, the time until the list shows the rows `expected` gives.
void keystrokes(QLineEdit* field, const QString& word, QWidget& window,
                const std::function<bool(const QString&)>& shows = {}) {
    double total = 0, worst = 0, untilShown = 0, worstShown = 0;
    const auto type = [&](const QString& text) {
        QElapsedTimer t;
        t.start();
        field->setText(text);
        settle(window);
        const double busy = t.nsecsElapsed() / 1e6;
        while (shows && !shows(text) && t.elapsed() < 10000) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            settle(window);
        }
        return std::pair(busy, t.nsecsElapsed() / 1e6);
    };
    for (int i = 1; i <= word.size(); ++i) {
        const auto [busy, shown] = type(word.left(i));
        total += busy;
        worst = std::max(worst, busy);
        untilShown += shown;
        worstShown = std::max(worstShown, shown);
    }
    say(" | keystroke avg %.1f ms", total / word.size());
    say(" max %.1f ms", worst);
    if (shows) {
        say(" (rows shown after avg %.1f ms", untilShown / word.size());
        say(" max %.1f ms)", worstShown);
    }
    say(" | clear %.1f ms", type("").first);
}

void memory() {
    say(" | memory %.0f MB", statusKb("VmRSS:") / 1024.0);
    say(" (peak %.0f MB)\n", statusKb("VmHWM:") / 1024.0);
}

template <class Page>
QWidget* rowWidget(Page& page, int index) {
    if constexpr (requires { page.rowView(index); }) return page.rowView(index);
    else return page.rowViews().at(index);
}

// The page as shown, and (where rows are painted) with its second row live, as under the pointer.
template <class Page>
void shots(Page& page, QWidget& window, const QString& path) {
    window.grab().save(path);
    if constexpr (requires { page.rowView(1); }) {
        page.rowView(1);
        settle(window);
        window.grab().save(QString(path).replace(".png", "-live.png"));
    }
}

void history(const std::string& folder, int rows, const QString& shot) {
    Database store(folder);
    HistoryPage* page = nullptr;
    std::unique_ptr<Host> host;
    say("history %.0f rows: shown", rows);
    say(" %.1f ms", ms([&] {
            page = new HistoryPage(store);
            host = std::make_unique<Host>(page);
            settle(host->area);
        }));
    if (!shot.isEmpty()) shots(*page, host->area, shot);
    keystrokes(page->findChild<QLineEdit*>("historySearch"), "zebra", host->area, [&](const QString& text) {
        const std::vector<HistoryRow> expected = store.history(text.toStdString(), false, 500);
        return page->rows() == expected;
    });
    double add = 0, edit = 0, remove = 0;
    constexpr int kTimes = 5;
    for (int i = 0; i < kTimes; ++i) {
        add += ms([&] {
            store.insertHistory("a fresh transcript", 3, 2.0, "en");
            platform::NotificationCenter::shared().post(Database::historyChanged);
            settle(host->area);
        });
        const std::int64_t id = store.history("", false, 1).front().id;
        edit += ms([&] {
            store.toggleFavorite(id);
            settle(host->area);
        });
        remove += ms([&] {
            store.deleteHistory(id);
            settle(host->area);
        });
    }
    say(" | add %.1f ms", add / kTimes);
    say(" star %.1f ms", edit / kTimes);
    say(" delete %.1f ms", remove / kTimes);
    memory();
}

void dictionary(const std::string& folder, int terms, const QString& shot) {
    Database store(folder);
    DictionaryPage* page = nullptr;
    std::unique_ptr<Host> host;
    say("dictionary %.0f terms: shown", terms);
    say(" %.1f ms", ms([&] {
            page = new DictionaryPage(store);
            host = std::make_unique<Host>(page);
            settle(host->area);
        }));
    if (!shot.isEmpty()) shots(*page, host->area, shot);
    keystrokes(page->findChild<QLineEdit*>("dictSearch"), "term0001", host->area);
    double add = 0, toggle = 0, open = 0, save = 0, remove = 0;
    constexpr int kTimes = 3;
    for (int i = 0; i < kTimes; ++i) {
        add += ms([&] {
            page->findChild<QLineEdit*>("newTerm")->setText("aaa added " + QString::number(i));
            page->findChild<QLineEdit*>("newReplacement")->setText("Added");
            page->findChild<QPushButton*>("addTerm")->click();
            settle(host->area);
        });
        // The added term sorts first.
        toggle += ms([&] {
            rowWidget(*page, 0)->findChild<ToggleSwitch*>("dictEnabled")->click();
            settle(host->area);
        });
        open += ms([&] {
            rowWidget(*page, 0)->findChild<QToolButton*>("dictEdit")->click();
            settle(host->area);
        });
        save += ms([&] {
            QWidget* row = rowWidget(*page, 0);
            row->findChild<QLineEdit*>("dictEditReplacement")->setText("Edited");
            row->findChild<QPushButton*>("dictSave")->click();
            settle(host->area);
        });
        remove += ms([&] {
            rowWidget(*page, 0)->findChild<QToolButton*>("dictDelete")->click();
            settle(host->area);
        });
    }
    say(" | add %.1f ms", add / kTimes);
    say(" switch %.1f ms", toggle / kTimes);
    say(" edit %.1f ms", open / kTimes);
    say(" save %.1f ms", save / kTimes);
    say(" delete %.1f ms", remove / kTimes);
    memory();
}

void apply(const std::string& folder, int terms) {
    Database store(folder);
    std::mt19937 rng(11);
    std::string text = sentence(rng, 60, 60);
    text += " term000042 " + kWords[42 % kWords.size()] + " and TERM000007 " + kWords[7];
    say("apply %.0f terms:", terms);
    std::string out;
    say(" first %.2f ms", ms([&] { out = DictionaryEngine::apply(text, store); }));
    int times = 0;
    QElapsedTimer budget;
    budget.start();
    const double total = ms([&] {
        while (times < 50 && (times < 3 || budget.elapsed() < 10000)) {
            out = DictionaryEngine::apply(text, store);
            ++times;
        }
    });
    say(" | per dictation %.2f ms", total / times);
    say(" (%.0f runs)", times);
    memory();
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: page-bench history|dictionary|apply <count> [--shot file.png]\n");
        return 2;
    }
    const std::string what = argv[1];
    const int count = std::atoi(argv[2]);
    const QString shot = argc > 4 && std::string(argv[3]) == "--shot" ? QString(argv[4]) : QString();
    platform::QtScheduler scheduler;
    platform::Scheduler::setMain(&scheduler);
    platform::MemoryDefaults defaults;
    platform::Defaults::setShared(&defaults);
    platform::Paths::setBundleOverride(TOVRIN_BUNDLE_DIR);

    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/Wendaro";
    if (what == "history") {
        fill(folder, count, 0);
        history(folder, count, shot);
    } else if (what == "dictionary") {
        fill(folder, 0, count);
        dictionary(folder, count, shot);
    } else if (what == "apply") {
        fill(folder, 0, count);
        apply(folder, count);
    } else {
        return 2;
    }
    return 0;
}
