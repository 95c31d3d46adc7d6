#include "rules/maskengine.h"

#include <QRegularExpression>
#include <gtest/gtest.h>
#include <random>

namespace {

const QString kCyclicMask = QStringLiteral("[0-9][0-9]:[0-5][0-9]");
// < > Left/Right, ^ $ Home/End, { } with Shift, ~ Delete, # Backspace, * double-click, ! focus.
const QString kScriptKeys = QStringLiteral("<>^${}~#*!");

void Press(CMaskEngine& engine, QChar key) {
    using Action = void (*)(CMaskEngine&);
    static const Action kActions[] = {
        [](CMaskEngine& e) { e.Left(); },          [](CMaskEngine& e) { e.Right(); },
        [](CMaskEngine& e) { e.Home(false); },     [](CMaskEngine& e) { e.End(false); },
        [](CMaskEngine& e) { e.Home(true); },      [](CMaskEngine& e) { e.End(true); },
        [](CMaskEngine& e) { e.Delete(); },        [](CMaskEngine& e) { e.Backspace(); },
        [](CMaskEngine& e) { e.DoubleClicked(); }, [](CMaskEngine& e) { e.FocusGained(); }};
    const qsizetype index = kScriptKeys.indexOf(key);
    if (index < 0)
        engine.TypeCharacter(key);
    else
        kActions[index](engine);
}

void Play(CMaskEngine& engine, const QString& script) {
    for (const QChar key : script)
        Press(engine, key);
}

// The text with the caret "|", a selection "[...]" and an empty one apart from the caret "^".
std::string Shown(const CMaskEngine& engine) {
    const int start = engine.SelectionStart();
    const int end = engine.SelectionEnd();
    QString shown;
    for (int i = 0; i <= engine.Text().size(); ++i) {
        if (i == end && start < end)
            shown += u']';
        if (i == start)
            shown += start < end ? "[" : i == engine.Caret() ? "" : "^";
        if (i == engine.Caret())
            shown += u'|';
        shown += engine.Text().mid(i, 1);
    }
    return shown.toStdString();
}

// A "tt:mm" field showing a stored text, clicked where "|" stands in it.
CMaskEngine Cyclic(QString text, const QString& script = {}) {
    CMaskEngine engine;
    engine.SetMask(kCyclicMask, QStringLiteral("0000"), 0, 0);
    const int caret = static_cast<int>(text.indexOf(u'|'));
    engine.SetPlainText(text.remove(u'|'));
    engine.MouseReleased(caret);
    Play(engine, script);
    return engine;
}

// Each position's set in brackets and each literal as it is, or the text a failed mask shows.
std::string Parsed(const QString& mask) {
    CMaskEngine engine;
    if (!engine.SetMask(mask, {}, 0, 0))
        return engine.Text().toStdString();
    QString sets;
    for (const PositionDescriptor& position : engine.Positions())
        sets += position.m_bLiteral ? position.m_strChars : "[" + position.m_strChars + "]";
    return sets.toStdString();
}

} // namespace

TEST(MaskParsing, BuildsTheSetOfEveryPositionOrShowsWhyNot) {
    const std::pair<const char*, const char*> cases[] = {
        {"[0-9][0-9]:[0-5][0-9]", "[0123456789][0123456789]:[012345][0123456789]"},
        {"[a\\-][a-z][X-Z]", "[a-][abcdefghijklmnopqrstuvwxyzåäö][XYZÅÄÖ]"},
        {"[\\\\][\\a-c][Z-\\\\][aa][]", "[\\][abc][Z[\\][aa][]"},
        // Nothing pending leaks into the next position.
        {"[0-][9]a-\\", "[0-][9]a-\\"},
        // Latin-1 codes compare as signed 8-bit numbers; above U+00FF after U+007F.
        {"[a-ö][å-ç][~-ā]", "[][åæç][~\x7fĀā]"}};
    for (const auto& [mask, parsed] : cases)
        EXPECT_EQ(Parsed(QString::fromUtf8(mask)), parsed) << mask;
    for (const char* mask : {"[-a]", "[0-9][-]", "[a--b]", "[a\\][-]"})
        EXPECT_EQ(Parsed(QString::fromUtf8(mask)), "SetValidChars failed.") << mask;
    for (const char* mask : {"[[0-9]]", "0-9]", "[0-9", "][", "[a]]"})
        EXPECT_EQ(Parsed(QString::fromUtf8(mask)), "Fel vid initiering") << mask;
    std::string wrapping = "[ÿ";
    for (char c = 0; c <= '!'; ++c)
        wrapping += c;
    EXPECT_EQ(Parsed(QStringLiteral("[ÿ-!]")), wrapping + "]");
    const QString longest = QStringLiteral("[0]").repeated(255) + "a";
    EXPECT_EQ(Parsed(longest), longest.toStdString());
    EXPECT_EQ(Parsed(longest + "a"), "Fel vid initiering");
}

TEST(MaskDefaultText, FillsTheEditablePositionsInOrder) {
    const QString absolute = QStringLiteral(
        "[2X][0-9X][0-9X][0-9X]-[0-9X][0-9X]-[0-9X][0-9X] [0-9X][0-9X]:[0-9X][0-9X]");
    const std::tuple<QString, const char*, const char*> cases[] = {
        {absolute, "XXXXXXXXXXXX", "|XXXX-XX-XX XX:XX"},
        {kCyclicMask, "0000", "|00:00"},
        {kCyclicMask, "9999", "|99:_9"},
        {kCyclicMask, "123456", "|12:34"},
        {kCyclicMask, "1", "|1_:__"},
        {QStringLiteral(":[0-9]"), "", ":|_"}};
    CMaskEngine engine;
    for (const auto& [mask, defaultText, shown] : cases) {
        ASSERT_TRUE(engine.SetMask(mask, QString::fromUtf8(defaultText), 0, 0));
        EXPECT_EQ(Shown(engine), shown) << defaultText;
    }
}

// Stored text clicked at "|", script, result; complete exactly when a whole valid "tt:mm".
TEST(MaskKeys, EditTheTextAndMoveTheCaretAsTheMaskAllows) {
    const char* const cases[] = {
        // Typing overwrites, skips literals and refuses what the position does not accept.
        "|00:00 12305 12:30|", "|00:00 >>7 00:|00", "12|:30 5 12|:30", "12|:30 : 12:|30",
        "12:|30 \b 1|_:30", "1_:|30 <4 14:|30",
        // Arrows skip literals; Home and End go to the editable ends, with Shift they select.
        "1|2:30 > 12:|30", "12:|30 < 1|2:30", "1|2:30 << |12:30", "12:3|0 >> 12:30|",
        "12:|30 $ 12:30|", "12:|30 ^ |12:30", "12:|30 { [12:]|30", "12:|30 } 12:[|30]",
        // Backspace moves back, then clears; Delete clears, then moves on.
        "12:|30 # 1|_:30", "|12:30 # |12:30", "|12:30 ~ _|2:30", "12:3|0 ~ 12:3_|",
        "12:30| ~ 12:30|", "12|:30 ~ 12:|30",
        // A selection is emptied before the key is tested.
        "12:30| *4 4|_:__", "12:|30 *\x03 |__:__", "12:|30 *~ |__:__", "12:|30 {x |__:30",
        "12|:30 }~ 12:|__",
        // Regaining the focus shows the focus selection; typing goes on at the caret.
        "|00:00 12! ^12:|00", "|00:00 12!5 12:5|0",
        // A stored text is shown as given and fitted to the mask when edited.
        "|07:30 1 1|7:30", "| >> ^", "| >>4 __:4|_", "1x:30|99 # 1_:3|_", "|1x:30  |1x:30",
        "|12:3  |12:3", "|12:300  |12:300", "|12-30  |12-30", "|12:70  |12:70"};
    const QRegularExpression complete(QStringLiteral("^[0-9][0-9]:[0-5][0-9]$"));
    for (const char* c : cases) {
        const QStringList parts = QString::fromUtf8(c).split(u' ');
        const CMaskEngine engine = Cyclic(parts[0], parts[1]);
        EXPECT_EQ(Shown(engine), parts[2].toStdString()) << c;
        EXPECT_EQ(engine.IsComplete(), complete.match(engine.Text()).hasMatch()) << c;
    }
}

// A drag keeps the caret; selections stay in the text; no valid mask or no editable, no edit.
TEST(MaskSelection, StaysWithinTheTextAndNeedsAValidMask) {
    CMaskEngine engine = Cyclic(QStringLiteral("12|:30"));
    engine.SetSelection(5, 3);
    engine.MouseReleased(0);
    EXPECT_EQ(Shown(engine), "12|:[30]");
    ASSERT_TRUE(engine.SetMask(kCyclicMask, {}, 9, 0));
    Play(engine, "!");
    EXPECT_EQ(Shown(engine), "[|__:__]");
    ASSERT_TRUE(engine.SetMask(QStringLiteral("[0-9]ab"), QStringLiteral("5"), 0, 0));
    engine.SetSelection(1, 3);
    Play(engine, "~");
    EXPECT_EQ(Shown(engine), "5|ab");
    ASSERT_FALSE(engine.SetMask(QStringLiteral("[-]"), {}, 0, 0));
    Play(engine, "*1~#");
    EXPECT_EQ(engine.Text().toStdString(), "SetValidChars failed.");
    EXPECT_FALSE(engine.IsValid() || engine.PositionCount() > 0 || engine.IsComplete());
    ASSERT_TRUE(engine.SetMask(QStringLiteral("ab"), QStringLiteral("x"), 0, 0));
    Play(engine, "xb~#$");
    EXPECT_EQ(Shown(engine), "|ab");
}

// Random masks (no "-" without a character before it) under random keys, clicks and selections.
TEST(MaskRandomised, TextKeepsTheMaskShapeThroughAnyInput) {
    const QString setPool = QStringLiteral("0129aczxXZ_åöÿ~Ω");
    const QString keyPool = kScriptKeys + setPool + QStringLiteral("5:-\\ \x03\b\t");
    for (unsigned seed = 20260; seed < 20560; ++seed) {
        std::mt19937 rng(seed);
        const auto below = [&rng](int n) { return static_cast<int>(rng() % unsigned(n)); };
        const auto pick = [&](const QString& pool) { return pool.at(below(int(pool.size()))); };
        QString mask;
        QString literals; // each position's literal, or U+0000 for an editable one
        for (int count = below(13); count > 0; --count) {
            if (below(3) == 0) {
                literals += pick(QStringLiteral("09:- /\\X_åÅ"));
                mask += literals.back();
                continue;
            }
            literals += QChar();
            mask += u'[';
            for (int items = below(4); items > 0; --items) {
                const int kind = below(3);
                mask += kind == 1 ? QStringLiteral("\\") + pick(QStringLiteral("-\\a"))
                                  : QString(pick(setPool));
                if (kind == 2)
                    mask += QStringLiteral("-") + pick(setPool);
            }
            mask += u']';
        }
        const int n = static_cast<int>(literals.size());
        QString defaultText;
        for (int length = below(17); length > 0; --length)
            defaultText += pick(keyPool);
        const std::string trace = "seed " + std::to_string(seed) + ", mask " + mask.toStdString();
        CMaskEngine engine;
        ASSERT_TRUE(engine.SetMask(mask, defaultText, below(n + 2), below(n + 2))) << trace;
        for (int step = 0; step <= 20; ++step) {
            const QString& text = engine.Text();
            bool fits = engine.PositionCount() == n && text.size() == n && engine.Caret() >= 0 &&
                        engine.Caret() <= n && engine.SelectionStart() >= 0 &&
                        engine.SelectionStart() <= engine.SelectionEnd() &&
                        engine.SelectionEnd() <= n;
            for (int i = 0; fits && i < n; ++i)
                fits = literals[i].isNull() ? text[i] == CMaskEngine::kPrompt ||
                                                  engine.Positions()[i].m_strChars.contains(text[i])
                                            : text[i] == literals[i];
            ASSERT_TRUE(fits) << trace << ", step " << step << ": " << Shown(engine);
            const int action = below(8);
            if (action == 0)
                engine.MouseReleased(below(n + 3) - 1);
            else if (action == 1)
                engine.SetSelection(below(n + 1), below(n + 1));
            else
                Press(engine, pick(keyPool));
        }
    }
}
