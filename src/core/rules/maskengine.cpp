#include "rules/maskengine.h"

#include <algorithm>
#include <optional>

namespace {

// The depth must stay within 0..1 (no nesting) and end at 0.
bool BracketsBalance(const QString& mask) {
    int depth = 0;
    for (const QChar c : mask) {
        if (c == u'[')
            ++depth;
        else if (c == u']')
            --depth;
        if (depth < 0 || depth > 1)
            return false;
    }
    return depth == 0;
}

// Of a balanced mask: each character outside brackets and each bracket pair.
int CountPositions(const QString& mask) {
    int count = 0;
    bool inBracket = false;
    for (const QChar c : mask) {
        if (c == u'[') {
            inBracket = true;
        } else if (c == u']') {
            inBracket = false;
            ++count;
        } else if (!inBracket) {
            ++count;
        }
    }
    return count;
}

// Latin-1 codes read as signed 8-bit numbers put U+0080..U+00FF before U+0000;
// the keys 128..255 then belong to no character.
int OrderKey(QChar c) {
    const int code = c.unicode();
    return code >= 0x80 && code <= 0xFF ? code - 0x100 : code;
}

QString CharacterRange(QChar from, QChar to) {
    QString range;
    for (int key = OrderKey(from); key <= OrderKey(to); ++key) {
        if (key < 0)
            range += QChar(char16_t(key + 0x100));
        else if (key < 0x80 || key > 0xFF)
            range += QChar(char16_t(key));
    }
    if (to == u'z')
        range += QStringLiteral("åäö");
    else if (to == u'Z')
        range += QStringLiteral("ÅÄÖ");
    return range;
}

// Reads a balanced mask one character at a time into position descriptors.
class CDescriptorBuilder {
public:
    // False when the character makes the mask invalid.
    bool Add(QChar c) {
        if (m_bInBracket)
            return AddInBracket(c);
        AddOutside(c);
        return true;
    }
    const QVector<PositionDescriptor>& Positions() const { return m_positions; }

private:
    void AddOutside(QChar c) {
        if (c == u'[')
            m_bInBracket = true;
        else
            m_positions.append({QString(c), true});
    }

    bool AddInBracket(QChar c) {
        switch (c.unicode()) {
        case u']':
            ClosePosition();
            return true;
        case u'-':
            return AddDash();
        case u'\\':
            AddBackslash();
            return true;
        default:
            AddOrdinary(c);
            return true;
        }
    }

    // Nothing pending may leak into the next position's set: a range left open,
    // as in "[a-]", keeps its start and the "-" as plain characters, and a
    // dangling escape is dropped.
    void ClosePosition() {
        if (m_bRange)
            m_strSet.append(m_rangeStart).append(u'-');
        m_positions.append({m_strSet, false});
        m_strSet.clear();
        m_bInBracket = m_bEscape = m_bRange = false;
    }

    bool AddDash() {
        if (m_bEscape) {
            m_strSet += u'-';
            m_bEscape = false;
            return true;
        }
        if (m_strSet.isEmpty())
            return false;
        m_bRange = true;
        m_rangeStart = m_strSet.back();
        m_strSet.chop(1);
        return true;
    }

    void AddBackslash() {
        if (!m_bEscape) {
            m_bEscape = true;
            return;
        }
        m_bEscape = false;
        AddCharacterOrEndRange(u'\\');
    }

    void AddOrdinary(QChar c) {
        m_bEscape = false;
        AddCharacterOrEndRange(c);
    }

    void AddCharacterOrEndRange(QChar c) {
        if (m_bRange)
            m_strSet += CharacterRange(m_rangeStart, c);
        else
            m_strSet += c;
        m_bRange = false;
    }

    QVector<PositionDescriptor> m_positions;
    QString m_strSet;
    QChar m_rangeStart;
    bool m_bInBracket = false;
    bool m_bEscape = false;
    bool m_bRange = false;
};

std::optional<QVector<PositionDescriptor>> BuildDescriptors(const QString& mask) {
    CDescriptorBuilder builder;
    for (const QChar c : mask) {
        if (!builder.Add(c))
            return std::nullopt;
    }
    return builder.Positions();
}

// The default text lists only the characters of the editable positions.
QString DisplayedText(const QVector<PositionDescriptor>& positions, const QString& defaultText) {
    QString text;
    qsizetype next = 0;
    for (const PositionDescriptor& position : positions) {
        if (position.m_bLiteral) {
            text += position.m_strChars;
            continue;
        }
        const QChar c = next < defaultText.size() ? defaultText.at(next++) : CMaskEngine::kPrompt;
        text += position.m_strChars.contains(c) ? c : CMaskEngine::kPrompt;
    }
    return text;
}

} // namespace

bool CMaskEngine::SetMask(const QString& mask, const QString& defaultText, int focusSelStart,
                          int focusSelEnd) {
    m_nFocusSelStart = focusSelStart;
    m_nFocusSelEnd = focusSelEnd;
    if (!BracketsBalance(mask) || CountPositions(mask) > kMaxPositions) {
        Fail(InitErrorText());
        return false;
    }
    const std::optional<QVector<PositionDescriptor>> positions = BuildDescriptors(mask);
    if (!positions) {
        Fail(ValidCharsErrorText());
        return false;
    }
    m_positions = *positions;
    m_strText = DisplayedText(m_positions, defaultText);
    m_bValid = true;
    m_nCaret = FirstEditable();
    CollapseSelectionToCaret();
    return true;
}

void CMaskEngine::Fail(const QString& errorText) {
    m_positions.clear();
    m_strText = errorText;
    m_bValid = false;
    m_nCaret = 0;
    CollapseSelectionToCaret();
}

void CMaskEngine::SetPlainText(const QString& text) {
    m_strText = text;
    CollapseSelectionToCaret();
}

void CMaskEngine::TypeCharacter(QChar character) {
    if (character == u'\b') {
        Backspace();
        return;
    }
    if (character == u'\t' || !m_bValid)
        return;
    FitTextToMask();
    // Emptied even when the character is then refused.
    EmptySelection();
    if (m_nCaret < PositionCount() && Accepts(m_nCaret, character)) {
        const int next = EditableFrom(m_nCaret + 1, m_nCaret + 1);
        ReplaceCharacter(m_nCaret, character);
        m_nCaret = next;
    }
    CollapseSelectionToCaret();
}

void CMaskEngine::Backspace() {
    if (!m_bValid)
        return;
    FitTextToMask();
    const int previous = FindPosition(m_nCaret - 1, false, Direction::Backward);
    if (previous >= 0) {
        ReplaceCharacter(previous, kPrompt);
        m_nCaret = previous;
    }
    CollapseSelectionToCaret();
}

void CMaskEngine::Delete() {
    if (!m_bValid)
        return;
    FitTextToMask();
    if (HasSelection())
        EmptySelection();
    else if (m_nCaret < AfterLastEditable())
        DeleteAtCaret();
    CollapseSelectionToCaret();
}

// A click can leave the caret on a literal; a literal is never erased, so the
// caret only moves on to the editable position after it.
void CMaskEngine::DeleteAtCaret() {
    if (m_positions.at(m_nCaret).m_bLiteral) {
        m_nCaret = EditableFrom(m_nCaret, m_nCaret);
        return;
    }
    ReplaceCharacter(m_nCaret, kPrompt);
    m_nCaret = EditableFrom(m_nCaret + 1, m_nCaret + 1);
}

void CMaskEngine::Home(bool shift) {
    if (shift) {
        SetSelection(0, m_nCaret);
        return;
    }
    m_nCaret = FirstEditable();
    CollapseSelectionToCaret();
}

void CMaskEngine::End(bool shift) {
    if (shift) {
        SetSelection(m_nCaret, AfterLastEditable());
        return;
    }
    m_nCaret = AfterLastEditable();
    CollapseSelectionToCaret();
}

void CMaskEngine::Left() {
    const int previous = FindPosition(m_nCaret - 1, false, Direction::Backward);
    if (previous >= 0)
        m_nCaret = previous;
    CollapseSelectionToCaret();
}

void CMaskEngine::Right() {
    m_nCaret = EditableFrom(m_nCaret + 1, AfterLastEditable());
    CollapseSelectionToCaret();
}

void CMaskEngine::FocusGained() {
    SetSelection(m_nFocusSelStart, m_nFocusSelEnd);
}

// A dragged selection leaves the caret where the keyboard left it.
void CMaskEngine::MouseReleased(int clickPosition) {
    if (HasSelection())
        return;
    m_nCaret = std::clamp(clickPosition, 0, PositionCount());
    CollapseSelectionToCaret();
}

void CMaskEngine::DoubleClicked() {
    SetSelection(0, static_cast<int>(m_strText.size()));
}

void CMaskEngine::SetSelection(int start, int end) {
    const int length = static_cast<int>(m_strText.size());
    start = std::clamp(start, 0, length);
    end = std::clamp(end, 0, length);
    m_nSelStart = std::min(start, end);
    m_nSelEnd = std::max(start, end);
}

bool CMaskEngine::IsComplete() const {
    if (!m_bValid || m_strText.size() != PositionCount())
        return false;
    for (int i = 0; i < PositionCount(); ++i) {
        if (!Accepts(i, m_strText.at(i)))
            return false;
    }
    return true;
}

int CMaskEngine::FindPosition(int start, bool literal, Direction direction) const {
    const int step = direction == Direction::Forward ? 1 : -1;
    for (int i = start; i >= 0 && i < PositionCount(); i += step) {
        if (m_positions.at(i).m_bLiteral == literal)
            return i;
    }
    return -1;
}

bool CMaskEngine::Accepts(int position, QChar character) const {
    return m_positions.at(position).m_strChars.contains(character);
}

QChar CMaskEngine::EmptyCharacter(int position) const {
    const PositionDescriptor& descriptor = m_positions.at(position);
    return descriptor.m_bLiteral ? descriptor.m_strChars.at(0) : kPrompt;
}

// 0 for a mask without editable positions, so the caret stays in range.
int CMaskEngine::FirstEditable() const {
    return std::max(FindPosition(0, false, Direction::Forward), 0);
}

int CMaskEngine::AfterLastEditable() const {
    return FindPosition(PositionCount() - 1, false, Direction::Backward) + 1;
}

int CMaskEngine::EditableFrom(int start, int otherwise) const {
    const int found = FindPosition(start, false, Direction::Forward);
    return found >= 0 ? found : otherwise;
}

// A plain text of another length takes the mask's shape before it is edited,
// keeping each character its position accepts, so an edit never writes
// outside the text or shifts a literal.
void CMaskEngine::FitTextToMask() {
    if (m_strText.size() == PositionCount())
        return;
    QString fitted;
    for (int i = 0; i < PositionCount(); ++i) {
        const bool keep =
            i < m_strText.size() && !m_positions.at(i).m_bLiteral && Accepts(i, m_strText.at(i));
        fitted += keep ? m_strText.at(i) : EmptyCharacter(i);
    }
    m_strText = fitted;
    SetSelection(m_nSelStart, m_nSelEnd);
}

void CMaskEngine::EmptySelection() {
    if (!HasSelection())
        return;
    for (int i = m_nSelStart; i < m_nSelEnd; ++i)
        ReplaceCharacter(i, EmptyCharacter(i));
    m_nCaret = EditableFrom(m_nSelStart, AfterLastEditable());
    CollapseSelectionToCaret();
}

void CMaskEngine::CollapseSelectionToCaret() {
    m_nSelStart = m_nSelEnd = std::min(m_nCaret, static_cast<int>(m_strText.size()));
}

void CMaskEngine::ReplaceCharacter(int position, QChar character) {
    m_strText[position] = character;
}
