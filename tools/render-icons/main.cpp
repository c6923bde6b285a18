// Renders every SVG in a folder to a square PNG of the same name.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: render-icons <folder> [pixels]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const int px = argc > 2 ? std::atoi(argv[2]) : 512;
    if (px <= 0 || px > 4096) {
        std::fprintf(stderr, "bad size\n");
        return 2;
    }
    int failures = 0;
    for (const QString& name : dir.entryList({"*.svg"}, QDir::Files, QDir::Name)) {
        QSvgRenderer svg(dir.filePath(name));
        if (!svg.isValid()) {
            std::fprintf(stderr, "%s: not a valid SVG\n", qPrintable(name));
            ++failures;
            continue;
        }
        QImage image(px, px, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        {
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            svg.render(&p, QRectF(0, 0, px, px));
        }
        const QString out = dir.filePath(QFileInfo(name).completeBaseName() + ".png");
        if (!image.save(out, "PNG")) {
            std::fprintf(stderr, "%s: could not write\n", qPrintable(out));
            ++failures;
            continue;
        }
        std::printf("%s\n", qPrintable(out));
    }
    return failures ? 1 : 0;
}
