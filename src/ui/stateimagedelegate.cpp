#include "stateimagedelegate.h"

#include "schedule/schedulemodel.h"

#include <QPainter>
#include <QPixmap>

QPixmap CStateImageDelegate::StateImage(int image) {
    const bool running = image > 2;
    const bool ticked = image == 2 || image == 4;
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(running ? Qt::black : QColor(128, 128, 128));
    painter.setBrush(running ? QColor(255, 0, 0) : Qt::white);
    painter.drawRect(2, 2, 12, 12);
    if (ticked) {
        QPen tick(Qt::black, 2);
        painter.setPen(tick);
        painter.drawPolyline(QPolygon({QPoint(4, 8), QPoint(7, 11), QPoint(12, 4)}));
    }
    return pixmap;
}

void CStateImageDelegate::initStyleOption(QStyleOptionViewItem* option,
                                          const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.column() != CScheduleModel::StartTime)
        return;
    option->features |= QStyleOptionViewItem::HasDecoration;
    static const QIcon images[] = {QIcon(StateImage(1)), QIcon(StateImage(2)), QIcon(StateImage(3)),
                                   QIcon(StateImage(4))};
    const int image = index.data(CScheduleModel::StateImageRole).toInt();
    if (image >= 1 && image <= 4)
        option->icon = images[image - 1];
    option->decorationSize = QSize(16, 16);
}
