// The window of "another program" for the end-to-end tests: one text field with keyboard focus.
// Every change of its text is written to OUTPUT (replaced atomically), every key (modifiers aside) the
// field receives is appended to OUTPUT.keys by name, and so is "ContextMenu" when its context menu
// opens; each key released over it goes to OUTPUT.keys.releases; OUTPUT.ready appears once it has
// focus.
#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QKeyEvent>
#include <QKeySequence>
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

class Field : public QLineEdit {
public:
    explicit Field(QString keysPath) : keysPath_(std::move(keysPath)) {}

protected:
    void keyPressEvent(QKeyEvent* event) override {
        log(event, keysPath_);
        QLineEdit::keyPressEvent(event);
    }
    void keyReleaseEvent(QKeyEvent* event) override {
        if (!event->isAutoRepeat()) log(event, keysPath_ + ".releases");
        QLineEdit::keyReleaseEvent(event);
    }
    void contextMenuEvent(QContextMenuEvent* event) override {
        QFile keys(keysPath_);
        if (keys.open(QIODevice::Append)) keys.write("ContextMenu\n");
        QLineEdit::contextMenuEvent(event);
    }

private:
    // Appends the key's name to the file, modifiers aside.
    static void log(const QKeyEvent* event, const QString& path) {
        const int key = event->key();
        const bool modifier = key == Qt::Key_Control || key == Qt::Key_Shift || key == Qt::Key_Alt ||
                              key == Qt::Key_Meta || key == Qt::Key_AltGr || key == Qt::Key_Super_L ||
                              key == Qt::Key_Super_R;
        QFile keys(path);
        if (!modifier && keys.open(QIODevice::Append)) {
            QString name = QKeySequence(event->key()).toString();
            if (event->key() == Qt::Key_Escape) name = "Escape";
            keys.write((name + "\n").toUtf8());
        }
    }

    QString keysPath_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: e2e_target OUTPUT_FILE\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);

    Field field(out + ".keys");
    field.setWindowTitle("e2e target");
    field.setGeometry(400, 300, 1100, 500);
    QObject::connect(&field, &QLineEdit::textChanged, [&](const QString& text) { writeFile(out, text); });
    field.show();

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        field.activateWindow();
        field.setFocus();
        if (field.hasFocus() && QApplication::focusWindow()) {
            writeFile(out + ".ready", "ready");
            poll.stop();
        }
    });
    poll.start(20);
    return app.exec();
}
