// Icon styles: stored values, applying a style (program icon, desktop entry, missing artwork)
// and the picker's tiles.
#include "platform/DesktopEntry.h"
#include "platform/Paths.h"
#include "support/TestEnvironment.h"
#include "ui/kit/AppIconManager.h"
#include "ui/kit/AppIconPicker.h"
#include "ui/kit/Kestal.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_log;
void collect(QtMsgType, const QMessageLogContext&, const QString& msg) { g_log.push_back(msg.toStdString()); }

class AppIconTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::reset();
        platform::Paths::setBundleOverride(TOVRIN_BUNDLE_DIR);
        ASSERT_TRUE(dataHome.isValid());
        setenv("XDG_DATA_HOME", dataHome.path().toUtf8().constData(), 1);
        g_log.clear();
        previous = qInstallMessageHandler(collect);
    }
    void TearDown() override {
        qInstallMessageHandler(previous);
        platform::Paths::setBundleOverride("");
        unsetenv("XDG_DATA_HOME");
    }
    std::string desktopEntry() {
        QFile f(QString::fromStdString(platform::DesktopEntry::path()));
        return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
    }

    QTemporaryDir dataHome;
    QtMessageHandler previous = nullptr;
};

TEST_F(AppIconTest, RawValuesNamesAndOrder) {
    const auto& all = AppIconStyle::allCases();
    const char* raw[] = {"petroglyph",           "knyaz-seal",
                         "trypillia-ceramic",    "scythian-gold",
                         "trypillia-dark-ember", "trypillia-dark-turquoise",
                         "trypillia-dark-azure-gold"};
    for (size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i].rawValue(), raw[i]);
        EXPECT_EQ(all[i].id(), raw[i]);
        EXPECT_EQ(AppIconStyle::fromRawValue(raw[i]), all[i]);
        EXPECT_EQ(all[i].fileName(), std::string("tovrin-") + raw[i]);
        EXPECT_TRUE(all[i].imagePath().has_value()) << "every style has its bundled artwork: " << raw[i];
    }
    EXPECT_EQ(AppIconStyle(AppIconStyle::knyazSeal).displayName(), "Knyaz Seal");
    EXPECT_EQ(AppIconStyle(AppIconStyle::trypilliaDarkAzureGold).displayName(), "Trypillia Night \xC2\xB7 Azure Gold");
    EXPECT_EQ(AppIconStyle::defaultStyle(), AppIconStyle::trypilliaDarkAzureGold);
}

TEST_F(AppIconTest, CurrentReadsTheStoredValueExactly) {
    auto& d = test::fakes().defaults;
    EXPECT_EQ(AppIconManager::current(), AppIconStyle::trypilliaDarkAzureGold);
    d.setString("appIconStyle", "knyaz-seal");
    EXPECT_EQ(AppIconManager::current(), AppIconStyle::knyazSeal);
    for (const char* other : {"KNYAZ-SEAL", "", "knyaz-seal ", "classic"}) {
        d.setString("appIconStyle", other);
        EXPECT_EQ(AppIconManager::current(), AppIconStyle::trypilliaDarkAzureGold) << other;
    }
    d.setInt("appIconStyle", 3);
    EXPECT_EQ(AppIconManager::current(), AppIconStyle::trypilliaDarkAzureGold);
}

TEST_F(AppIconTest, ApplyStoresAndSetsBothIcons) {
    AppIconManager::apply(AppIconStyle::scythianGold);
    EXPECT_EQ(test::fakes().defaults.string("appIconStyle"), "scythian-gold");
    const std::string expected = std::string(TOVRIN_BUNDLE_DIR) + "/resources/icons/tovrin-scythian-gold.png";
    ASSERT_EQ(test::fakes().app.icons.size(), 1u);
    EXPECT_EQ(test::fakes().app.icons[0], expected);
    EXPECT_NE(desktopEntry().find("\nIcon=" + expected + "\n"), std::string::npos) << desktopEntry();

    // Applying another style rewrites the entry's icon and keeps the user's other lines.
    {
        QFile f(QString::fromStdString(platform::DesktopEntry::path()));
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("X-Mine=kept\n[Desktop Action New]\nIcon=other\n");
    }
    AppIconManager::apply(AppIconStyle::petroglyph);
    const std::string entry = desktopEntry();
    EXPECT_NE(entry.find("Icon=" + std::string(TOVRIN_BUNDLE_DIR) + "/resources/icons/tovrin-petroglyph.png\n"),
              std::string::npos);
    EXPECT_EQ(entry.find("scythian"), std::string::npos);
    EXPECT_NE(entry.find("X-Mine=kept"), std::string::npos);
    EXPECT_NE(entry.find("[Desktop Action New]\nIcon=other"), std::string::npos);
    EXPECT_TRUE(g_log.empty());
}

TEST_F(AppIconTest, MissingArtworkIsLoggedAndChangesNothingButTheStoredValue) {
    QTemporaryDir emptyBundle;
    platform::Paths::setBundleOverride(emptyBundle.path().toStdString());
    AppIconManager::apply(AppIconStyle::knyazSeal);
    EXPECT_EQ(test::fakes().defaults.string("appIconStyle"), "knyaz-seal");
    EXPECT_TRUE(test::fakes().app.icons.empty());
    EXPECT_TRUE(desktopEntry().empty());
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0], "[AppIcon] missing bundled icns for knyaz-seal");

    // Start-up with the stored style missing: nothing set, nothing stored anew.
    g_log.clear();
    AppIconManager::applySaved();
    EXPECT_TRUE(test::fakes().app.icons.empty());
}

TEST_F(AppIconTest, DamagedArtworkCountsAsMissing) {
    // A file that begins like a PNG but is cut short cannot be read: the style has no image.
    QTemporaryDir bundle;
    ASSERT_TRUE(QDir(bundle.path()).mkpath("resources/icons"));
    {
        QFile real(QString(TOVRIN_BUNDLE_DIR) + "/resources/icons/tovrin-knyaz-seal.png");
        ASSERT_TRUE(real.open(QIODevice::ReadOnly));
        QFile cut(bundle.path() + "/resources/icons/tovrin-knyaz-seal.png");
        ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
        cut.write(real.read(200));
    }
    platform::Paths::setBundleOverride(bundle.path().toStdString());
    EXPECT_FALSE(AppIconStyle(AppIconStyle::knyazSeal).imagePath());
    AppIconManager::apply(AppIconStyle::knyazSeal);
    EXPECT_EQ(test::fakes().defaults.string("appIconStyle"), "knyaz-seal");
    EXPECT_TRUE(test::fakes().app.icons.empty());
    EXPECT_TRUE(desktopEntry().empty());
    ASSERT_EQ(g_log.size(), 1u);
    EXPECT_EQ(g_log[0], "[AppIcon] missing bundled icns for knyaz-seal");
    AppIconPicker picker(AppIconStyle::knyazSeal);
    EXPECT_FALSE(picker.tileLook(1).hasImage);
}

TEST_F(AppIconTest, ApplySavedSetsTheStoredStyleWithoutStoring) {
    AppIconManager::applySaved();
    EXPECT_FALSE(test::fakes().defaults.object("appIconStyle").has_value());
    ASSERT_EQ(test::fakes().app.icons.size(), 1u);
    EXPECT_NE(test::fakes().app.icons[0].find("tovrin-trypillia-dark-azure-gold.png"), std::string::npos);
}

TEST_F(AppIconTest, PickerShowsSevenTilesWithExactlyOneSelected) {
    AppIconPicker picker(AppIconManager::current());
    picker.resize(420, picker.heightForWidth(420));
    ASSERT_EQ(picker.tileCount(), 7);
    EXPECT_EQ(picker.columnCount(), 4);  // (420 + 12) / (92 + 12)
    for (int i = 0; i < 7; ++i) EXPECT_EQ(picker.tileStyle(i), AppIconStyle::allCases()[i]);

    auto selectedTiles = [&] {
        std::vector<int> out;
        for (int i = 0; i < picker.tileCount(); ++i) {
            const auto look = picker.tileLook(i);
            EXPECT_TRUE(look.hasImage);
            if (look.outlineWidth == 2.0) {
                EXPECT_EQ(look.outline, Kestal::blue);
                EXPECT_EQ(look.textColor, Kestal::text);
                out.push_back(i);
            } else {
                EXPECT_EQ(look.outline, Kestal::border);
                EXPECT_EQ(look.fill, Kestal::surface);
                EXPECT_EQ(look.textColor, Kestal::dim);
            }
        }
        return out;
    };
    EXPECT_EQ(selectedTiles(), std::vector<int>{6});

    // A click selects the tile and applies its style; tiles do not overlap.
    for (int i = 1; i < 7; ++i) EXPECT_FALSE(picker.tileRect(i).intersects(picker.tileRect(i - 1)));
    QTest::mouseClick(&picker, Qt::LeftButton, {}, picker.tileRect(2).center().toPoint());
    EXPECT_EQ(picker.selected(), AppIconStyle::trypilliaCeramic);
    EXPECT_EQ(selectedTiles(), std::vector<int>{2});
    EXPECT_EQ(test::fakes().defaults.string("appIconStyle"), "trypillia-ceramic");
    // Clicking the selected tile applies it again.
    QTest::mouseClick(&picker, Qt::LeftButton, {}, picker.tileRect(2).center().toPoint());
    EXPECT_EQ(test::fakes().app.icons.size(), 2u);
    // A click between tiles does nothing.
    const QRectF a = picker.tileRect(0), b = picker.tileRect(1);
    QTest::mouseClick(&picker, Qt::LeftButton, {}, QPoint(int((a.right() + b.left()) / 2), int(a.center().y())));
    EXPECT_EQ(test::fakes().app.icons.size(), 2u);

    // The picker grows in height when narrow: one column holds seven rows.
    EXPECT_GT(picker.heightForWidth(92), 6 * picker.heightForWidth(420) / 2);
}

}  // namespace
