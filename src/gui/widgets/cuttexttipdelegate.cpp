#include "widgets/cuttexttipdelegate.h"

#include "widgets/elidedtext.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QStyle>

// The style keeps a focus frame's margin and one pixel free on either side of the text.
QString CCutTextTipDelegate::ShownText(const QStyleOptionViewItem& option, const QModelIndex& index,
                                       const QWidget* view) const {
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    const QStyle* style = view->style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    const int room =
        style->subElementRect(QStyle::SE_ItemViewItemText, &cell, view).width() - 2 * margin;
    return CutToWidth(cell.text, TextCut::AtEnd, cell.fontMetrics, room);
}

bool CCutTextTipDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                    const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event->type() != QEvent::ToolTip || !index.isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    ShowWholeTextTip(*event, view, ShownText(option, index, view), index.data().toString(),
                     index.data(Qt::ToolTipRole).toString());
    return true;
}
