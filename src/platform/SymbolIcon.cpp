#include "platform/SymbolIcon.h"

#include "platform/Paths.h"

#include <QFile>
#include <QPainter>
#include <QPixmap>

namespace platform::SymbolIcon {

QIcon icon(const std::string& name) {
    const QString path = QString::fromStdString(Paths::resources() + "/symbols/" + name + ".svg");
    if (QFile::exists(path)) return QIcon(path);
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(name == "record.circle.fill" ? QColor(220, 60, 60) : QColor(230, 230, 230));
    p.drawEllipse(QRectF(6, 6, 20, 20));
    return QIcon(pixmap);
}

}  // namespace platform::SymbolIcon
