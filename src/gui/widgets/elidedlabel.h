#pragma once

#include "widgets/elidedtext.h"

#include <QWidget>

// One line of plain text that never widens its window: where the text does not fit, it is
// shown cut with "…" and its tooltip holds it whole.
class CElidedLabel : public QWidget {
    Q_OBJECT
public:
    // preferredWidth is the width it asks a layout for, whatever its text.
    CElidedLabel(TextCut cut, int preferredWidth, QWidget* parent = nullptr);

    void SetText(const QString& text);
    QString Text() const { return m_text; }
    // The text as it is painted at the label's present width.
    QString ShownText() const;
    // The width the text needs to be shown whole.
    int WholeTextWidth() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    const TextCut m_cut;
    const int m_preferredWidth;
    QString m_text;
};
