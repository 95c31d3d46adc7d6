#pragma once

#include <QStyledItemDelegate>

// Shows each line's state image (active tick, red while running) before the
// start-time text.
class CStateImageDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // 1 empty white box, 2 ticked white box, 3 empty red box, 4 ticked red box.
    static QPixmap StateImage(int image);

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
