// One dark look throughout: what Qt draws for us (a scroll bar, a drop-down list's popup, a menu,
// a message box, Qt's own file dialog) comes out in the kit's dark palette, not the platform's
// light one. Each is rendered and its pixels sampled.
#include "platform/qt/QtApp.h"
#include "ui/kit/KestalTheme.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <algorithm>
#include <vector>

namespace {

// The relative luminance (0 black, 1 white) of most of the widget as drawn: the median over its
// pixels, so that text and a highlighted row do not count, the ground does.
double luminance(QWidget* w) {
    const QImage image = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (image.isNull()) return 1;
    std::vector<double> values;
    values.reserve(static_cast<std::size_t>(image.width()) * image.height());
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            values.push_back(0.2126 * c.redF() + 0.7152 * c.greenF() + 0.0722 * c.blueF());
        }
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

constexpr double kDark = 0.2;

TEST(DarkTheme, WhatQtDrawsForUsIsDarkToo) {
    platform::QtApp app;
    app.setDarkAppearance();
    KestalTheme::apply();

    QScrollArea area;
    auto* tall = new QLabel("text");
    tall->setMinimumSize(200, 2000);
    area.setWidget(tall);
    area.resize(240, 300);
    area.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&area));
    ASSERT_TRUE(area.verticalScrollBar()->isVisible());
    EXPECT_LT(luminance(area.verticalScrollBar()), kDark) << "scroll bar";

    QComboBox combo;
    combo.addItems({"Auto-detect", "Українська", "English"});
    combo.show();
    combo.showPopup();
    QWidget* popup = combo.view()->window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(popup));
    EXPECT_LT(luminance(popup), kDark) << "drop-down popup";
    combo.hidePopup();

    QMenu menu;
    menu.addAction("Open Tovrin");
    menu.addAction("Quit Tovrin");
    menu.popup(QPoint(10, 10));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    EXPECT_LT(luminance(&menu), kDark) << "menu";
    menu.close();

    QMessageBox box(QMessageBox::Warning, "Tovrin", "Update Error!", QMessageBox::Ok);
    box.setInformativeText("An error occurred in retrieving update information.");
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    EXPECT_LT(luminance(&box), kDark) << "message box";
    box.close();

    // Qt's own dialog, used where the desktop offers none of its own.
    QFileDialog dialog(nullptr, QString(), QDir::homePath());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_LT(luminance(&dialog), kDark) << "file dialog";
    dialog.close();
}

}  // namespace
