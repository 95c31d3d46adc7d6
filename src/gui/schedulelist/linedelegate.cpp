#include "schedulelist/linedelegate.h"

#include "data/schedulerow.h"
#include "rules/starttime.h"
#include "schedule/schedulemodel.h"
#include "widgets/elidedtext.h"

#include <QAbstractItemView>
#include <QHeaderView>
#include <QHelpEvent>
#include <QPainter>
#include <QPixmap>
#include <algorithm>

namespace {

constexpr int kCheckBoxWidth = 20;
constexpr int kColumnPadding = 4;
const QColor kStaleColour(255, 160, 0);
// The texts of a row whose last start failed, unless the line is selected.
const QColor kFailedText(170, 0, 0);
// A run waiting in the Slurm queue: a blue dot in the state image's lower right corner and the
// texts in italics, so that a waiting row is told from an idle one and from a running one.
const QColor kQueuedMark(30, 90, 200);
constexpr int kQueuedMarkSize = 7;
constexpr int kStateImageSize = 16;
constexpr int kTextMargin = 1;
constexpr int kSeparatorHeight = 1;
const QString kDigits = QStringLiteral("0123456789");

// The pattern with every "#" replaced by whichever candidate makes it widest in
// the font, so that a font whose digits differ in width is measured at its worst.
QString WidestFilling(const QString& pattern, const QString& candidates,
                      const QFontMetrics& metrics) {
    QString widest;
    for (const QChar candidate : candidates) {
        const QString filled = QString(pattern).replace(QLatin1Char('#'), candidate);
        if (metrics.horizontalAdvance(filled) > metrics.horizontalAdvance(widest))
            widest = filled;
    }
    return widest;
}

// The texts among which a column's widest usual content is found; none for the
// free texts (model path and macro), whose length has no usual bound.
QStringList UsualTexts(int column, const QFontMetrics& metrics) {
    switch (column) {
    case CScheduleModel::StartTime: {
        // An absolute time may hold wildcards and a "_" its entry left unfilled.
        QStringList texts{WidestFilling(QStringLiteral("####-##-## ##:##"),
                                        kDigits + QStringLiteral("X_"), metrics)};
        const QString time = WidestFilling(QStringLiteral("##:##"), kDigits, metrics);
        for (int day = 0; day < 7; ++day)
            texts << StartTime::WeekdayName(day) + QStringLiteral("  ") + time;
        return texts;
    }
    case CScheduleModel::CalcTime:
    case CScheduleModel::MesTime:
        return {WidestFilling(QStringLiteral("####-##-## ##:##:##"), kDigits, metrics),
                TimeText(0)};
    }
    return {};
}

int TextOffsetInColumn(int column) {
    return column == 0 ? kCheckBoxWidth : kColumnPadding;
}

TextCut CutOf(int column) {
    return column == CScheduleModel::Model ? TextCut::InPath : TextCut::AtEnd;
}

void DrawQueuedMark(QPainter& painter, const QPoint& imageCorner) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::white);
    painter.setBrush(kQueuedMark);
    const int offset = kStateImageSize - kQueuedMarkSize;
    painter.drawEllipse(QRect(imageCorner + QPoint(offset, offset),
                              QSize(kQueuedMarkSize - 1, kQueuedMarkSize - 1)));
}

} // namespace

CLineDelegate::CLineDelegate(const QHeaderView& header, QObject* parent)
    : QStyledItemDelegate(parent), m_header(header) {}

QVector<int> CLineDelegate::TextOffsets(const QVector<int>& columnWidths) {
    QVector<int> offsets{kCheckBoxWidth};
    int left = kColumnPadding;
    for (int column = 0; column + 1 < columnWidths.size(); ++column) {
        left += columnWidths.at(column);
        offsets << left;
    }
    return offsets;
}

// The text ends a padding before the column's right edge, so at least two
// paddings before the next column's text.
int CLineDelegate::ContentWidth(int column, const QFontMetrics& metrics) {
    int widest = 0;
    for (const QString& text : UsualTexts(column, metrics))
        widest = std::max(widest, metrics.horizontalAdvance(text));
    return TextOffsetInColumn(column) + widest + kColumnPadding;
}

QVector<int> CLineDelegate::ColumnWidths() const {
    QVector<int> widths;
    for (int column = 0; column < CScheduleModel::ColumnCount; ++column)
        widths << m_header.sectionSize(column);
    return widths;
}

QPixmap CLineDelegate::StateImage(int image, bool stale) {
    const bool running = image > 2;
    const bool ticked = image == 2 || image == 4;
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(running ? Qt::black : QColor(128, 128, 128));
    painter.setBrush(!running ? QColor(Qt::white) : stale ? kStaleColour : QColor(255, 0, 0));
    painter.drawRect(2, 2, 12, 12);
    if (ticked) {
        painter.setPen(QPen(Qt::black, 2));
        painter.drawPolyline(QPolygon({QPoint(4, 8), QPoint(7, 11), QPoint(12, 4)}));
    }
    return pixmap;
}

QSize CLineDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const int textHeight = option.fontMetrics.height() + 2 * kTextMargin;
    return {QStyledItemDelegate::sizeHint(option, index).width(),
            std::max(textHeight, kStateImageSize) + kSeparatorHeight};
}

// The text ends a padding before its column's right edge.
QString CLineDelegate::ShownText(const QModelIndex& cell, const QFontMetrics& metrics) const {
    const int column = cell.column();
    const int room = m_header.sectionSize(column) - TextOffsetInColumn(column) - kColumnPadding;
    return CutToWidth(cell.data().toString(), CutOf(column), metrics, room);
}

bool CLineDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                              const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event->type() != QEvent::ToolTip || !index.isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    ShowWholeTextTip(*event, view, ShownText(index, option.fontMetrics), index.data().toString(),
                     index.data(Qt::ToolTipRole).toString());
    return true;
}

void CLineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = option.palette;
    painter->save();
    // The bottom pixel row is left to the list's own background: the separator.
    QRect line = option.rect;
    line.setBottom(line.bottom() - 1);
    painter->fillRect(line, palette.color(selected ? QPalette::Highlight : QPalette::Base));
    const bool failed = !index.data(CScheduleModel::LaunchFailureRole).toString().isEmpty();
    painter->setPen(selected ? palette.color(QPalette::HighlightedText)
                    : failed ? kFailedText
                             : palette.color(QPalette::Text));

    const bool queued = index.data(CScheduleModel::QueuedRole).toBool();
    if (queued) {
        QFont italic = option.font;
        italic.setItalic(true);
        painter->setFont(italic);
    }

    const QVector<int> offsets = TextOffsets(ColumnWidths());
    for (int column = 0; column < CScheduleModel::ColumnCount; ++column) {
        QRect textRect = line;
        textRect.setLeft(line.left() + offsets.at(column));
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          ShownText(index.siblingAtColumn(column), option.fontMetrics));
    }

    static const QPixmap images[] = {StateImage(1), StateImage(2), StateImage(3), StateImage(4)};
    static const QPixmap staleImages[] = {StateImage(3, true), StateImage(4, true)};
    const int image = index.data(CScheduleModel::StateImageRole).toInt();
    const bool stale = index.data(CScheduleModel::StaleRole).toBool();
    if (stale && image >= 3 && image <= 4)
        painter->drawPixmap(option.rect.topLeft(), staleImages[image - 3]);
    else if (image >= 1 && image <= 4)
        painter->drawPixmap(option.rect.topLeft(), images[image - 1]);
    if (queued)
        DrawQueuedMark(*painter, option.rect.topLeft());
    painter->restore();
}
