#pragma once

#include <QString>
#include <QVector>

// One position of a mask: a literal character, or an editable position with
// the characters it accepts (in the order the mask added them, duplicates kept).
struct PositionDescriptor {
    QString m_strChars;
    bool m_bLiteral = false;
};

// The rules of the masked edit without a widget: the text always has one
// character per position, typing overwrites and erasing puts the prompt back.
//
// Characters are UTF-16 units: "å" is one position, a character outside the
// Basic Multilingual Plane is two. Ranges such as [a-z] order Latin-1
// characters by their code read as a signed 8-bit number (U+0080..U+00FF come
// before U+0000); characters above U+00FF follow U+007F in Unicode order.
//
// Besides the logical caret the engine keeps the selection the widget shows;
// an empty selection is where the visible caret stands, normally the logical
// caret, but the focus selection after the focus has been regained.
class CMaskEngine {
public:
    enum class Direction { Forward, Backward };

    static constexpr int kMaxPositions = 256;
    static constexpr QChar kPrompt = u'_';
    // Shown instead of the text when the brackets do not balance, nest, or
    // make more than kMaxPositions positions.
    static QString InitErrorText() { return QStringLiteral("Fel vid initiering"); }
    // Shown when a "-" inside brackets has nothing before it.
    static QString ValidCharsErrorText() { return QStringLiteral("SetValidChars failed."); }

    // Replaces every position. defaultText lists only the characters of the
    // editable positions. False when the mask is invalid: the text is then the
    // error text and nothing is accepted until a mask succeeds.
    bool SetMask(const QString& mask, const QString& defaultText, int focusSelStart,
                 int focusSelEnd);
    // Shows a text that has not passed the mask, as a stored value is put back.
    // The first editing key fits a text of another length to the mask.
    void SetPlainText(const QString& text);

    // Character input; code 8 is Backspace and code 9 does nothing.
    void TypeCharacter(QChar character);
    void Backspace();
    void Delete();
    void Home(bool shift);
    void End(bool shift);
    void Left();
    void Right();
    void FocusGained();
    void MouseReleased(int clickPosition);
    void DoubleClicked();
    // The selection the widget made itself (a mouse drag); the caret stays.
    void SetSelection(int start, int end);

    bool IsValid() const { return m_bValid; }
    // Every position holds a character it accepts, a literal its own: nothing
    // was left at the prompt or erased, and a text put back without the mask
    // has the mask's shape.
    bool IsComplete() const;
    const QString& Text() const { return m_strText; }
    int Caret() const { return m_nCaret; }
    int SelectionStart() const { return m_nSelStart; }
    int SelectionEnd() const { return m_nSelEnd; }
    bool HasSelection() const { return m_nSelStart < m_nSelEnd; }
    int PositionCount() const { return static_cast<int>(m_positions.size()); }
    const QVector<PositionDescriptor>& Positions() const { return m_positions; }

    // The first index from start in the direction whose literal flag equals
    // literal, or -1.
    int FindPosition(int start, bool literal, Direction direction) const;

private:
    void Fail(const QString& errorText);
    bool Accepts(int position, QChar character) const;
    QChar EmptyCharacter(int position) const;
    int FirstEditable() const;
    int AfterLastEditable() const;
    int EditableFrom(int start, int otherwise) const;
    void FitTextToMask();
    void EmptySelection();
    void DeleteAtCaret();
    void CollapseSelectionToCaret();
    void ReplaceCharacter(int position, QChar character);

    QVector<PositionDescriptor> m_positions;
    QString m_strText;
    bool m_bValid = false;
    int m_nCaret = 0;
    int m_nSelStart = 0;
    int m_nSelEnd = 0;
    int m_nFocusSelStart = 0;
    int m_nFocusSelEnd = 0;
};
