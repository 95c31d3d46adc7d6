#pragma once

#include <QStyledItemDelegate>

// Draws cells as usual; a cell whose text the style cuts with "…" shows it whole in its
// tooltip, with the cell's own tooltip, if it has one, below.
class CCutTextTipDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // The cell's text as the style draws it in the cell's present width.
    QString ShownText(const QStyleOptionViewItem& option, const QModelIndex& index,
                      const QWidget* view) const;
};
