#pragma once

#include "rules/maskengine.h"

#include <QLineEdit>

// A single-line edit whose text always has the shape of its mask. Every key,
// character and input-method text goes to the mask engine and never to the
// line edit's own editing, so nothing is inserted, pasted or undone past the
// mask. The value is the plain text(), literals and prompts included.
class CMaskEdit : public QLineEdit {
    Q_OBJECT
public:
    // Disabled and accepting nothing until a mask succeeds.
    explicit CMaskEdit(QWidget* parent = nullptr);

    // On success shows the text built from defaultText, enables the control and
    // takes the focus; on failure shows the error text and disables it.
    // focusSelStart..focusSelEnd is selected whenever the control gains the focus.
    bool SetMask(const QString& mask, const QString& defaultText, int focusSelStart,
                 int focusSelEnd);
    // Shows a stored value as it is, without passing the mask.
    void SetPlainText(const QString& text);
    // No position left at the prompt, and the text has the mask's shape.
    bool IsComplete() const { return m_engine.IsComplete(); }

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    void TrackShift(const QKeyEvent* event);
    void MoveFocus(bool forward);
    void ApplyKey(const QKeyEvent* event);
    void TypeText(const QString& text);
    void TakeSelectionFromWidget();
    void ShowEngineState();

    CMaskEngine m_engine;
    bool m_bShift = false;
};
