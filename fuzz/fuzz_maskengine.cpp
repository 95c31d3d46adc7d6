// Random masks, default texts and key sequences through the mask engine. After
// every step the caret and selection stay inside the text, and a text the engine
// shaped itself has one character per position: the literal where the mask has
// one, the prompt or an accepted character everywhere else.
#include "fuzzinput.h"
#include "rules/maskengine.h"

namespace {

// The characters a mask gives meaning to, range ends with extra letters, and
// characters a typist sends: Backspace and Tab.
constexpr QStringView kAlphabet = u"[]-\\_aAzZ09Xåä:. \b\t";
// Longer than the most positions a mask may make.
constexpr qsizetype kLongestText = CMaskEngine::kMaxPositions + 20;

enum class Key {
    Type,
    Backspace,
    Delete,
    Home,
    End,
    Left,
    Right,
    FocusGained,
    MouseReleased,
    DoubleClicked,
    Select,
    PlainText,
    Mask,
    kMaxValue = Mask
};

// A plain text is shown as it is given. Until the next editing key it may have
// any length, and until the next mask any characters: one that already has the
// mask's length is not fitted to it.
struct Expectation {
    bool plainSinceMask = false;
    bool plainPending = false;
};

int NextPosition(FuzzedDataProvider& input) {
    return input.ConsumeIntegralInRange<int>(-2, int(kLongestText));
}

void SetMask(CMaskEngine& engine, FuzzedDataProvider& input, Expectation& expected) {
    const QString mask = NextText(input, kAlphabet, kLongestText);
    const QString defaultText = NextText(input, kAlphabet, kLongestText);
    const int focusStart = NextPosition(input);
    const bool valid = engine.SetMask(mask, defaultText, focusStart, NextPosition(input));
    Require(valid == engine.IsValid(), "SetMask says what IsValid says");
    Require(valid || engine.Text() == CMaskEngine::InitErrorText() ||
                engine.Text() == CMaskEngine::ValidCharsErrorText(),
            "a refused mask shows an error text");
    expected = {};
}

void Edit(CMaskEngine& engine, QChar character, Expectation& expected) {
    engine.TypeCharacter(character);
    if (character != u'\t')
        expected.plainPending = false;
}

void Step(CMaskEngine& engine, FuzzedDataProvider& input, Expectation& expected) {
    switch (input.ConsumeEnum<Key>()) {
    case Key::Type:
        Edit(engine, NextCharacter(input, kAlphabet), expected);
        break;
    case Key::Backspace:
        Edit(engine, u'\b', expected);
        break;
    case Key::Delete:
        engine.Delete();
        expected.plainPending = false;
        break;
    case Key::Home:
        engine.Home(input.ConsumeBool());
        break;
    case Key::End:
        engine.End(input.ConsumeBool());
        break;
    case Key::Left:
        engine.Left();
        break;
    case Key::Right:
        engine.Right();
        break;
    case Key::FocusGained:
        engine.FocusGained();
        break;
    case Key::MouseReleased:
        engine.MouseReleased(NextPosition(input));
        break;
    case Key::DoubleClicked:
        engine.DoubleClicked();
        break;
    case Key::Select: {
        const int start = NextPosition(input);
        engine.SetSelection(start, NextPosition(input));
        break;
    }
    case Key::PlainText:
        engine.SetPlainText(NextText(input, kAlphabet, kLongestText));
        expected.plainSinceMask = expected.plainPending = true;
        break;
    case Key::Mask:
        SetMask(engine, input, expected);
        break;
    }
}

void CheckShape(const CMaskEngine& engine) {
    const QString& text = engine.Text();
    for (int i = 0; i < engine.PositionCount(); ++i) {
        const PositionDescriptor& position = engine.Positions().at(i);
        if (position.m_bLiteral)
            Require(position.m_strChars == QString(text.at(i)), "a literal is never changed");
        else
            Require(text.at(i) == CMaskEngine::kPrompt || position.m_strChars.contains(text.at(i)),
                    "an editable position holds the prompt or a character it accepts");
    }
}

void Check(const CMaskEngine& engine, const Expectation& expected) {
    const qsizetype length = engine.Text().size();
    Require(engine.Caret() >= 0 && engine.Caret() <= engine.PositionCount(),
            "the caret stays among the positions");
    Require(engine.SelectionStart() >= 0 && engine.SelectionStart() <= engine.SelectionEnd() &&
                engine.SelectionEnd() <= length,
            "the selection stays inside the text");
    if (!engine.IsValid()) {
        Require(engine.PositionCount() == 0, "a refused mask leaves no positions");
        return;
    }
    if (!expected.plainPending)
        Require(length == engine.PositionCount(), "the text has one character per position");
    if (!expected.plainSinceMask)
        CheckShape(engine);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    CMaskEngine engine;
    Expectation expected;
    SetMask(engine, input, expected);
    Check(engine, expected);
    while (input.remaining_bytes() > 0) {
        Step(engine, input, expected);
        Check(engine, expected);
    }
    return 0;
}
