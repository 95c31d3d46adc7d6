#include "widgets/programicon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// Drawn at every size a window manager or a dialog asks for, so no size is
// scaled from another.
QIcon ProgramIcon() {
    QSvgRenderer renderer(QStringLiteral(":/kvarnixmonitor.svg"));
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
