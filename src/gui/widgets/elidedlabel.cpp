#include "widgets/elidedlabel.h"

#include <QHelpEvent>
#include <QPainter>

CElidedLabel::CElidedLabel(TextCut cut, int preferredWidth, QWidget* parent)
    : QWidget(parent), m_cut(cut), m_preferredWidth(preferredWidth) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void CElidedLabel::SetText(const QString& text) {
    if (text == m_text)
        return;
    m_text = text;
    update();
}

QString CElidedLabel::ShownText() const {
    return CutToWidth(m_text, m_cut, fontMetrics(), contentsRect().width());
}

int CElidedLabel::WholeTextWidth() const {
    const QMargins margins = contentsMargins();
    return fontMetrics().horizontalAdvance(m_text) + margins.left() + margins.right();
}

QSize CElidedLabel::sizeHint() const {
    return {m_preferredWidth, fontMetrics().height()};
}

// Room for the "…" and a letter or two beside it.
QSize CElidedLabel::minimumSizeHint() const {
    return {fontMetrics().horizontalAdvance(QStringLiteral("W…W")), fontMetrics().height()};
}

bool CElidedLabel::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    ShowWholeTextTip(*static_cast<QHelpEvent*>(event), this, ShownText(), m_text);
    return true;
}

void CElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     ShownText());
}
