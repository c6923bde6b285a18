// A window of its own process for the paste tests: one text field with keyboard focus. Every
// change of the field's text is written to the file named by the first argument (replaced
// atomically); "<file>.ready" appears once the field has focus.
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QSaveFile>
#include <QTimer>

#include <cstdio>

namespace {

void writeFile(const QString& path, const QString& text) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return;
    file.write(text.toUtf8());
    file.commit();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: paste_target OUTPUT_FILE\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);

    QLineEdit field;
    field.setWindowTitle("paste target");
    // Over the middle of the screen, where the pointer rests on a fresh display.
    field.setGeometry(400, 300, 1100, 500);
    QObject::connect(&field, &QLineEdit::textChanged, [&](const QString& text) { writeFile(out, text); });
    field.show();

    auto grabFocus = [&] {
        field.activateWindow();
        field.setFocus();
        if (field.hasFocus() && QApplication::focusWindow()) {
            writeFile(out + ".ready", "ready");
            return true;
        }
        return false;
    };
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (grabFocus()) poll.stop();
    });
    poll.start(20);
    return app.exec();
}
