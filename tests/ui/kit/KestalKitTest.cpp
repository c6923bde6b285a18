// The kit's building blocks: heading text, field focus border, card drawing, button looks.
#include "support/Child.h"
#include "support/TestEnvironment.h"
#include "ui/kit/Kestal.h"
#include "ui/kit/KestalCard.h"
#include "ui/kit/KestalField.h"
#include "ui/kit/KestalPrimaryButtonStyle.h"
#include "ui/kit/KestalSectionHeader.h"
#include "platform/Symbols.h"
#include "ui/kit/WrapLabel.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

namespace {

TEST(Kestal, PaletteIsExact) {
    EXPECT_EQ(Kestal::bg.name(), "#0a0b0d");
    EXPECT_EQ(Kestal::surface.name(), "#13151a");
    EXPECT_EQ(Kestal::elev.name(), "#181b21");
    EXPECT_EQ(Kestal::border.name(), "#1e222a");
    EXPECT_EQ(Kestal::text.name(), "#f2f4f7");
    EXPECT_EQ(Kestal::dim.name(), "#8b929b");
    EXPECT_EQ(Kestal::faint.name(), "#565d66");
    EXPECT_EQ(Kestal::blue.name(), "#4a9eff");
    EXPECT_EQ(Kestal::gold.name(), "#f5c542");
    EXPECT_EQ(Kestal::red.name(), "#f87171");
    EXPECT_EQ(Kestal::blue.alpha(), 255);
}

TEST(Kestal, HeadersAndFieldLabelsAreUpperCased) {
    KestalSectionHeader header("Account");
    EXPECT_EQ(header.text(), "ACCOUNT");
    EXPECT_EQ(header.title(), "Account");
    EXPECT_DOUBLE_EQ(header.font().letterSpacing(), 1.5);
    EXPECT_EQ(header.palette().color(QPalette::WindowText), Kestal::dim);
    KestalSectionHeader cyrillic(QString::fromUtf8("ключ api"));
    EXPECT_EQ(cyrillic.text(), QString::fromUtf8("КЛЮЧ API"));

    KestalField field("Email", false, "you@example.com", KestalField::ContentType::emailAddress);
    auto* label = field.findChild<QLabel*>();
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), "EMAIL");
    EXPECT_EQ(label->font(), header.font());
}

TEST(Kestal, FieldBorderTurnsBlueWhileFocused) {
    QWidget window;
    auto* column = new QVBoxLayout(&window);
    auto* field = new KestalField("Password", true);
    auto* other = new QLineEdit;
    column->addWidget(field);
    column->addWidget(other);
    window.show();
    window.activateWindow();
    QApplication::setActiveWindow(&window);

    EXPECT_EQ(test::child<QLineEdit>(field, "fieldInput")->echoMode(), QLineEdit::Password);
    other->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(field->borderColor(), Kestal::border);
    test::child<QLineEdit>(field, "fieldInput")->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(field->borderColor(), Kestal::blue);
    other->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(field->borderColor(), Kestal::border);

    field->setText("secret");
    EXPECT_EQ(field->text(), "secret");
}

TEST(Kestal, CardDrawsAOnePointBorderInsideItsEdge) {
    QImage img(100, 60, QImage::Format_ARGB32);
    img.fill(Qt::black);
    {
        QPainter p(&img);
        KestalCard::paintCard(p, QRectF(0, 0, 100, 60), 12, Kestal::surface, Qt::red);
    }
    // On a straight edge: the outermost pixel row is the border, the next one already the fill.
    EXPECT_EQ(img.pixelColor(50, 0), QColor(Qt::red));
    EXPECT_EQ(img.pixelColor(50, 1), Kestal::surface);
    EXPECT_EQ(img.pixelColor(0, 30), QColor(Qt::red));
    EXPECT_EQ(img.pixelColor(1, 30), Kestal::surface);
    EXPECT_EQ(img.pixelColor(99, 30), QColor(Qt::red));
    EXPECT_EQ(img.pixelColor(50, 30), Kestal::surface);
    // The corner outside the rounding stays untouched.
    EXPECT_EQ(img.pixelColor(0, 0), QColor(Qt::black));

    KestalCard card(12, Kestal::blue);
    card.resize(100, 60);
    const QImage shot = card.grab().toImage();
    EXPECT_EQ(shot.pixelColor(50, 30), Kestal::surface);
    EXPECT_EQ(card.contentsMargins(), QMargins(0, 0, 0, 0));
}

TEST(Kestal, PrimaryButtonLooksChangeWhenPressed) {
    // On the window background, as the button is always seen.
    QWidget window;
    window.setAutoFillBackground(true);
    QPalette pal = window.palette();
    pal.setColor(QPalette::Window, Kestal::bg);
    window.setPalette(pal);
    auto* button = new QPushButton("Continue", &window);
    KestalPrimaryButtonStyle::apply(button);
    button->setGeometry(0, 0, 120, 34);
    window.resize(120, 34);
    window.show();
    const QColor upFill = window.grab().toImage().pixelColor(10, 17);
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(60, 17));
    ASSERT_TRUE(button->isDown());
    const QColor downFill = window.grab().toImage().pixelColor(10, 17);
    EXPECT_EQ(upFill, Kestal::blue);
    auto mix = [](int a, int b) { return 0.85 * a + 0.15 * b; };
    EXPECT_NEAR(downFill.red(), mix(Kestal::blue.red(), Kestal::bg.red()), 3);
    EXPECT_NEAR(downFill.green(), mix(Kestal::blue.green(), Kestal::bg.green()), 3);
    EXPECT_NEAR(downFill.blue(), mix(Kestal::blue.blue(), Kestal::bg.blue()), 3);
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(60, 17));
}

// Text with a token wider than the line wraps inside it; what is selected copies as written
// (line breaks and the whole long token), never as laid out.
TEST(WrapLabel, WrapsInsideALongTokenAndCopiesTheTextAsWritten) {
    test::reset();
    const QString text = "first line\nhttps://example.com/" + QString(200, 'a');
    WrapLabel label(text);
    label.setSelectable(true);
    const int line = QFontMetrics(label.font()).height();
    EXPECT_LE(label.minimumSizeHint().width(), 100);
    EXPECT_GE(label.heightForWidth(200), 4 * line);
    label.resize(200, label.heightForWidth(200));
    label.show();

    QTest::keyClick(&label, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&label, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(test::fakes().pasteboard.string(), text.toStdString());

    QTest::mouseDClick(&label, Qt::LeftButton, {}, QPoint(2, line / 2));
    EXPECT_EQ(label.selectedText(), "first");
}

TEST(Symbols, EveryNamedSymbolDrawsInTheAskedColour) {
    platform::Paths::setBundleOverride(TOVRIN_BUNDLE_DIR);
    for (const char* name : {"mic", "record.circle.fill", "hourglass", "checkmark.circle.fill",
                             "exclamationmark.triangle.fill", "questionmark.app"}) {
        const QPixmap pm = Symbols::pixmap(name, 24, Kestal::gold, 2.0);
        ASSERT_FALSE(pm.isNull()) << name;
        EXPECT_EQ(pm.size(), QSize(48, 48));
        const QImage img = pm.toImage().convertToFormat(QImage::Format_ARGB32);
        int ink = 0, clear = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QColor c = img.pixelColor(x, y);
                if (c.alpha() == 255) {
                    EXPECT_EQ(c.rgb(), Kestal::gold.rgb()) << name;
                    ++ink;
                } else if (c.alpha() == 0) {
                    ++clear;
                }
            }
        EXPECT_GT(ink, 48 * 48 / 12) << name;
        EXPECT_GT(clear, 48 * 48 / 6) << name;
        EXPECT_FALSE(Symbols::icon(name).isNull()) << name;
    }
    // The check mark is cut out of its disc, not drawn over it.
    const QImage check = Symbols::pixmap("checkmark.circle.fill", 48, Qt::white).toImage();
    EXPECT_LT(check.pixelColor(int(48 * 10.4 / 24), int(48 * 15.0 / 24)).alpha(), 40);
    EXPECT_EQ(check.pixelColor(24, 8).alpha(), 255);

    EXPECT_TRUE(Symbols::pixmap("no.such.symbol", 16, Qt::white).isNull());
    EXPECT_TRUE(Symbols::icon("../icons/tovrin-petroglyph").isNull());
    EXPECT_TRUE(Symbols::path("").isEmpty());
}

}  // namespace
