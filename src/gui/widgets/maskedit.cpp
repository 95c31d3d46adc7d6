#include "widgets/maskedit.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>

CMaskEdit::CMaskEdit(QWidget* parent) : QLineEdit(parent) {
    setEnabled(false);
    // The context menu (paste, undo) and dropped text would change the text
    // past the mask.
    setContextMenuPolicy(Qt::NoContextMenu);
    setAcceptDrops(false);
}

bool CMaskEdit::SetMask(const QString& mask, const QString& defaultText, int focusSelStart,
                        int focusSelEnd) {
    const bool valid = m_engine.SetMask(mask, defaultText, focusSelStart, focusSelEnd);
    setEnabled(valid);
    ShowEngineState();
    if (valid) {
        setFocus();
        // Gaining the focus may have shown the focus selection; a new mask
        // starts with the caret on its first editable position.
        m_engine.SetSelection(m_engine.Caret(), m_engine.Caret());
        ShowEngineState();
    }
    return valid;
}

void CMaskEdit::SetPlainText(const QString& text) {
    m_engine.SetPlainText(text);
    ShowEngineState();
}

// Tab reaches QWidget::event's own focus handling before keyPressEvent.
bool CMaskEdit::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool isTab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
        if (isTab && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            TrackShift(key);
            MoveFocus(key->key() == Qt::Key_Tab && !m_bShift);
            return true;
        }
    }
    return QLineEdit::event(event);
}

void CMaskEdit::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    // Enter and Escape belong to the dialog: default button and cancel.
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    TrackShift(event);
    TakeSelectionFromWidget();
    ApplyKey(event);
    ShowEngineState();
    event->accept();
}

void CMaskEdit::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Shift)
        m_bShift = false;
    QLineEdit::keyReleaseEvent(event);
}

void CMaskEdit::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    m_engine.FocusGained();
    ShowEngineState();
}

// The line edit moves its caret on a left or middle press; whatever button
// was used, typing goes on where the caret is shown.
void CMaskEdit::mouseReleaseEvent(QMouseEvent* event) {
    TakeSelectionFromWidget();
    m_engine.MouseReleased(cursorPosition());
    ShowEngineState();
    // Releasing the middle button would paste the primary selection.
    if (event->button() != Qt::MiddleButton)
        QLineEdit::mouseReleaseEvent(event);
}

// Selects the whole text instead of a word.
void CMaskEdit::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        m_engine.DoubleClicked();
        ShowEngineState();
    }
    event->accept();
}

// Composed characters arrive here instead of as key presses; they are typed
// like keys, and the preedit text is never shown.
void CMaskEdit::inputMethodEvent(QInputMethodEvent* event) {
    TakeSelectionFromWidget();
    TypeText(event->commitString());
    ShowEngineState();
    event->accept();
}

// Every key carries the real Shift state, which also mends a flag left set
// when Shift went up while another window had the focus.
void CMaskEdit::TrackShift(const QKeyEvent* event) {
    m_bShift = event->key() == Qt::Key_Shift || event->modifiers().testFlag(Qt::ShiftModifier);
}

// The Shift key will go up in the control the focus moves to.
void CMaskEdit::MoveFocus(bool forward) {
    focusNextPrevChild(forward);
    auto* next = qobject_cast<CMaskEdit*>(window()->focusWidget());
    if (next && next != this)
        next->m_bShift = m_bShift;
}

void CMaskEdit::ApplyKey(const QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Home:
        m_engine.Home(m_bShift);
        break;
    case Qt::Key_End:
        m_engine.End(m_bShift);
        break;
    case Qt::Key_Left:
        m_engine.Left();
        break;
    case Qt::Key_Right:
        m_engine.Right();
        break;
    case Qt::Key_Delete:
        m_engine.Delete();
        break;
    case Qt::Key_Backspace:
        m_engine.Backspace();
        break;
    default:
        // With Alt or Meta a key is a menu or system key, never a character.
        if (!(event->modifiers() & (Qt::AltModifier | Qt::MetaModifier)))
            TypeText(event->text());
        break;
    }
}

void CMaskEdit::TypeText(const QString& text) {
    for (const QChar c : text)
        m_engine.TypeCharacter(c);
}

// Mouse presses and drags keep the line edit's own handling, so the line
// edit's selection is the current one when a key or a release arrives.
void CMaskEdit::TakeSelectionFromWidget() {
    if (hasSelectedText())
        m_engine.SetSelection(selectionStart(), selectionEnd());
    else
        m_engine.SetSelection(cursorPosition(), cursorPosition());
}

void CMaskEdit::ShowEngineState() {
    if (text() != m_engine.Text())
        setText(m_engine.Text());
    const int start = m_engine.SelectionStart();
    const int end = m_engine.SelectionEnd();
    if (start == end)
        setCursorPosition(start);
    else
        setSelection(start, end - start);
}
