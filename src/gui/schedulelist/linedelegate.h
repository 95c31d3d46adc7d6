#pragma once

#include <QStyledItemDelegate>
#include <QVector>

class QHeaderView;

// Paints one whole schedule line: the background in the selection or window
// colour with a one-pixel gap at the bottom, the five column texts at their
// offsets, each cut with "…" at its column's edge, and the state image at the
// line's top-left corner. A cut text is whole in the cell's tooltip.
class CLineDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    CLineDelegate(const QHeaderView& header, QObject* parent);

    // option.rect is the whole line; index is any cell of it.
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    // Tall enough for the font's ascent and descent and the state image, plus
    // the one-pixel separator below.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // The cell's whole text, and the reason a line is marked, as its tooltip.
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // The cell's text as it is painted in the column's present width: a model path
    // loses the middle of its folders, every other text its end.
    QString ShownText(const QModelIndex& cell, const QFontMetrics& metrics) const;

    // Left edge of each column's text, relative to the line's left edge: column 0
    // after the check box, the others four pixels into their column.
    static QVector<int> TextOffsets(const QVector<int>& columnWidths);
    // The narrowest a column may be for the widest text it usually shows in
    // this font: the text drawn at its offset ends before the next column's text.
    static int ContentWidth(int column, const QFontMetrics& metrics);
    // 1 empty white box, 2 ticked white box, 3 empty red box, 4 ticked red box;
    // an orange box instead of the red one for a run flag no calculation holds.
    static QPixmap StateImage(int image, bool stale = false);

private:
    QVector<int> ColumnWidths() const;

    const QHeaderView& m_header;
};
