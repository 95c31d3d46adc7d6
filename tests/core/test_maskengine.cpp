#include "ui/maskengine.h"

#include <gtest/gtest.h>
#include <optional>
#include <random>

namespace {

const QString kCyclicMask = QStringLiteral("[0-9][0-9]:[0-5][0-9]");
const QString kAbsoluteMask =
    QStringLiteral("[2X][0-9X][0-9X][0-9X]-[0-9X][0-9X]-[0-9X][0-9X] [0-9X][0-9X]:[0-9X][0-9X]");
// Script keys; every other character of a script is typed.
const QString kScriptKeys = QStringLiteral("<>^${}~#*!");

void Press(CMaskEngine& engine, QChar key) {
    switch (kScriptKeys.indexOf(key)) {
    case 0:
        return engine.Left();
    case 1:
        return engine.Right();
    case 2:
    case 4:
        return engine.Home(key == u'{');
    case 3:
    case 5:
        return engine.End(key == u'}');
    case 6:
        return engine.Delete();
    case 7:
        return engine.Backspace();
    case 8:
        return engine.DoubleClicked();
    case 9:
        return engine.FocusGained();
    default:
        return engine.TypeCharacter(key);
    }
}

void Play(CMaskEngine& engine, const char* script) {
    for (const QChar key : QString::fromUtf8(script))
        Press(engine, key);
}

// A "tt:mm" field showing shown (put in as a stored value), clicked at caret.
CMaskEngine Cyclic(const char* shown, int caret, const char* script = "") {
    CMaskEngine engine;
    engine.SetMask(kCyclicMask, QStringLiteral("0000"), 0, 0);
    engine.SetPlainText(QString::fromUtf8(shown));
    engine.MouseReleased(caret);
    Play(engine, script);
    return engine;
}

struct CScriptCase {
    const char* shown;
    int caret;
    const char* script;
    const char* expected;
    int expectedCaret;
};

void ExpectScripts(std::initializer_list<CScriptCase> cases) {
    for (const CScriptCase& c : cases) {
        const CMaskEngine engine = Cyclic(c.shown, c.caret, c.script);
        EXPECT_EQ(engine.Text().toStdString(), c.expected) << c.shown << " " << c.script;
        EXPECT_EQ(engine.Caret(), c.expectedCaret)
            << c.shown << " at " << c.caret << " " << c.script;
    }
}

testing::AssertionResult Selects(const CMaskEngine& engine, int start, int end) {
    if (engine.SelectionStart() == start && engine.SelectionEnd() == end)
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "selects " << engine.SelectionStart() << ".." << engine.SelectionEnd();
}

std::string AcceptedAt(const CMaskEngine& engine, int position) {
    return engine.Positions().at(position).m_strChars.toStdString();
}

// The accepted characters of a mask of one position.
std::string Accepted(const char* mask) {
    CMaskEngine engine;
    if (!engine.SetMask(QString::fromUtf8(mask), {}, 0, 0) || engine.PositionCount() != 1)
        return "<not one valid position>";
    return AcceptedAt(engine, 0);
}

std::string FailureText(const QString& mask) {
    CMaskEngine engine;
    EXPECT_FALSE(engine.SetMask(mask, {}, 0, 0)) << mask.toStdString();
    EXPECT_FALSE(engine.IsValid());
    EXPECT_EQ(engine.PositionCount(), 0);
    return engine.Text().toStdString();
}

} // namespace

TEST(MaskParsing, SystemMasksHaveTheirPositions) {
    CMaskEngine cyclic;
    ASSERT_TRUE(cyclic.SetMask(kCyclicMask, {}, 0, 0));
    ASSERT_EQ(cyclic.PositionCount(), 5);
    EXPECT_TRUE(cyclic.Positions().at(2).m_bLiteral);
    EXPECT_EQ(AcceptedAt(cyclic, 2), ":");
    EXPECT_EQ(AcceptedAt(cyclic, 0), "0123456789");
    EXPECT_EQ(AcceptedAt(cyclic, 3), "012345");
    CMaskEngine absolute;
    ASSERT_TRUE(absolute.SetMask(kAbsoluteMask, {}, 0, 0));
    ASSERT_EQ(absolute.PositionCount(), 16);
    EXPECT_EQ(AcceptedAt(absolute, 0), "2X");
    EXPECT_EQ(AcceptedAt(absolute, 15), "0123456789X");
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(absolute.Positions().at(i).m_bLiteral, i == 4 || i == 7 || i == 10 || i == 13);
}

TEST(MaskParsing, SetsFromCharactersRangesAndEscapes) {
    EXPECT_EQ(Accepted("[a\\-]"), "a-");
    EXPECT_EQ(Accepted("[a-z]"), "abcdefghijklmnopqrstuvwxyzåäö");
    EXPECT_EQ(Accepted("[X-Z]"), "XYZÅÄÖ");
    EXPECT_EQ(Accepted("[\\\\]"), "\\");
    EXPECT_EQ(Accepted("[\\a]"), "a");
    EXPECT_EQ(Accepted("[Z-\\\\]"), "Z[\\");
    EXPECT_EQ(Accepted("[aa]"), "aa");
    EXPECT_EQ(Accepted("[]"), "");
    // Nothing pending leaks into the next position.
    CMaskEngine engine;
    ASSERT_TRUE(engine.SetMask(QStringLiteral("[0-][9]a-\\"), {}, 0, 0));
    EXPECT_EQ(AcceptedAt(engine, 0), "0-");
    EXPECT_EQ(AcceptedAt(engine, 1), "9");
    EXPECT_EQ(engine.Text().toStdString(), "__a-\\");
}

TEST(MaskParsing, RangesCompareLatin1CodesAsSigned8Bit) {
    EXPECT_EQ(Accepted("[a-ö]"), "");
    EXPECT_EQ(Accepted("[å-ç]"), "åæç");
    std::string wrapping = "ÿ";
    for (char c = 0; c <= '!'; ++c)
        wrapping += c;
    EXPECT_EQ(Accepted("[ÿ-!]"), wrapping);
    // Above U+00FF the order goes on after U+007F.
    EXPECT_EQ(Accepted("[~-ā]"), "~\x7fĀā");
}

TEST(MaskParsing, InvalidMasksShowTheirErrorText) {
    for (const char* mask : {"[-a]", "[0-9][-]", "[a--b]", "[a\\][-]"})
        EXPECT_EQ(FailureText(QString::fromUtf8(mask)), "SetValidChars failed.") << mask;
    for (const char* mask : {"[[0-9]]", "0-9]", "[0-9", "][", "[a]]"})
        EXPECT_EQ(FailureText(QString::fromUtf8(mask)), "Fel vid initiering") << mask;
    CMaskEngine engine;
    EXPECT_TRUE(engine.SetMask(QStringLiteral("[0]").repeated(255) + "a", {}, 0, 0));
    EXPECT_EQ(FailureText(QString(257, u'a')), "Fel vid initiering");
    EXPECT_EQ(FailureText(QStringLiteral("[0]").repeated(256) + "a"), "Fel vid initiering");
}

TEST(MaskDefaultText, FillsTheEditablePositionsInOrder) {
    CMaskEngine engine;
    ASSERT_TRUE(engine.SetMask(kAbsoluteMask, QStringLiteral("XXXXXXXXXXXX"), 0, 0));
    EXPECT_EQ(engine.Text().toStdString(), "XXXX-XX-XX XX:XX");
    const std::pair<const char*, const char*> cases[] = {
        {"0000", "00:00"}, {"9999", "99:_9"}, {"123456", "12:34"}, {"1", "1_:__"}};
    for (const auto& [defaultText, shown] : cases) {
        ASSERT_TRUE(engine.SetMask(kCyclicMask, QString::fromUtf8(defaultText), 0, 0));
        EXPECT_EQ(engine.Text().toStdString(), shown);
        EXPECT_EQ(engine.Caret(), 0);
        EXPECT_TRUE(Selects(engine, 0, 0));
    }
    ASSERT_TRUE(engine.SetMask(QStringLiteral(":[0-9]"), {}, 0, 0));
    EXPECT_EQ(engine.Caret(), 1);
}

TEST(MaskTyping, OverwritesSkipsLiteralsAndRefusesTheRest) {
    ExpectScripts({{"00:00", 0, "1230", "12:30", 5},
                   {"12:30", 5, "5", "12:30", 5},
                   {"00:00", 0, ">>7", "00:00", 3},
                   {"00:00", 0, ">>>7", "00:07", 5},
                   {"12:30", 2, "5", "12:30", 2},
                   {"12:30", 2, ":", "12:30", 3},
                   {"12:30", 3, "\t", "12:30", 3},
                   {"12:30", 3, "\b", "1_:30", 1}});
}

TEST(MaskCaret, ArrowsSkipLiteralsHomeAndEndGoToTheEditableEnds) {
    ExpectScripts({{"12:30", 1, ">", "12:30", 3},
                   {"12:30", 3, "<", "12:30", 1},
                   {"12:30", 1, "<<", "12:30", 0},
                   {"12:30", 4, ">>", "12:30", 5},
                   {"12:30", 3, "$", "12:30", 5},
                   {"12:30", 3, "^", "12:30", 0}});
    EXPECT_TRUE(Selects(Cyclic("12:30", 3, "{"), 0, 3));
    EXPECT_TRUE(Selects(Cyclic("12:30", 3, "}"), 3, 5));
    EXPECT_EQ(Cyclic("12:30", 3, "}").Caret(), 3);
}

TEST(MaskErasing, BackspaceMovesBackThenClearsDeleteClearsThenMovesOn) {
    ExpectScripts({{"12:30", 3, "#", "1_:30", 1},
                   {"12:30", 0, "#", "12:30", 0},
                   {"12:30", 0, "~", "_2:30", 1},
                   {"12:30", 4, "~", "12:3_", 5},
                   {"12:30", 5, "~", "12:30", 5},
                   {"12:30", 2, "~", "12:30", 3}});
}

TEST(MaskSelection, IsEmptiedBeforeTheCharacterIsTested) {
    ExpectScripts({{"12:30", 5, "*4", "4_:__", 1},
                   {"12:30", 3, "*\x03", "__:__", 0},
                   {"12:30", 3, "*~", "__:__", 0}});
    CMaskEngine engine = Cyclic("12:30", 0);
    engine.SetSelection(4, 1);
    Play(engine, "x");
    EXPECT_EQ(engine.Text().toStdString(), "1_:_0");
    EXPECT_EQ(engine.Caret(), 1);
    ASSERT_TRUE(engine.SetMask(QStringLiteral("[0-9]ab"), QStringLiteral("5"), 0, 0));
    engine.SetSelection(1, 3);
    Play(engine, "~");
    EXPECT_EQ(engine.Caret(), 1);
}

TEST(MaskFocus, ShowsTheFocusSelectionWhileTypingGoesOnAtTheCaret) {
    CMaskEngine engine = Cyclic("00:00", 0, "12!");
    EXPECT_TRUE(Selects(engine, 0, 0));
    EXPECT_EQ(engine.Caret(), 3);
    Play(engine, "5");
    EXPECT_EQ(engine.Text().toStdString(), "12:50");
    ASSERT_TRUE(engine.SetMask(kCyclicMask, {}, 9, 0));
    Play(engine, "!");
    EXPECT_TRUE(Selects(engine, 0, 5));
}

TEST(MaskMouse, ReleaseMovesTheCaretOnlyWithoutASelection) {
    CMaskEngine engine = Cyclic("12:30", 2);
    EXPECT_TRUE(Selects(engine, 2, 2));
    EXPECT_EQ(Cyclic("12:30", 99).Caret(), 5);
    engine.SetSelection(3, 5);
    engine.MouseReleased(5);
    EXPECT_EQ(engine.Caret(), 2);
    EXPECT_TRUE(Selects(engine, 3, 5));
}

TEST(MaskPlainText, IsShownAsGivenAndFittedToTheMaskWhenEdited) {
    EXPECT_EQ(Cyclic("", 3).Text().toStdString(), "");
    EXPECT_TRUE(Selects(Cyclic("", 3), 0, 0));
    ExpectScripts(
        {{"07:30", 0, "1", "17:30", 1}, {"", 3, "4", "__:4_", 4}, {"1x:3099", 5, "#", "1_:3_", 4}});
}

TEST(MaskInvalid, NothingIsAcceptedWithoutAValidMask) {
    CMaskEngine engine;
    Play(engine, "1~#*2");
    EXPECT_EQ(engine.Text().toStdString(), "");
    ASSERT_FALSE(engine.SetMask(QStringLiteral("[-]"), {}, 0, 0));
    Play(engine, "*1~#");
    EXPECT_EQ(engine.Text().toStdString(), "SetValidChars failed.");
    ASSERT_TRUE(engine.SetMask(QStringLiteral("ab"), QStringLiteral("x"), 0, 0));
    Play(engine, "xb~#$");
    EXPECT_EQ(engine.Text().toStdString(), "ab");
    Play(engine, "^");
    EXPECT_EQ(engine.Caret(), 0);
}

namespace {

const QString kLiteralPool = QStringLiteral("09:- /\\X_åÅ");
const QString kSetPool = QStringLiteral("0129aczxXZ_åöÿ~Ω");
const QString kKeyPool = kScriptKeys + kSetPool + QStringLiteral("5:-\\ \x03\b\t");

int Below(std::mt19937& rng, int n) {
    return static_cast<int>(rng() % static_cast<unsigned>(n));
}

QChar Pick(std::mt19937& rng, const QString& pool) {
    return pool.at(Below(rng, static_cast<int>(pool.size())));
}

// Characters, escapes and ranges, never a "-" without a character before it.
QString RandomSet(std::mt19937& rng) {
    QString set;
    for (int items = Below(rng, 4); items > 0; --items) {
        const int kind = Below(rng, 3);
        if (kind == 1)
            set += QStringLiteral("\\") + Pick(rng, QStringLiteral("-\\a"));
        else
            set += Pick(rng, kSetPool);
        if (kind == 2)
            set += QStringLiteral("-") + Pick(rng, kSetPool);
    }
    return set;
}

// Random literals and bracket positions; literals gets each position's
// literal, or nothing for an editable position.
QString RandomMask(std::mt19937& rng, QVector<std::optional<QChar>>& literals) {
    QString mask;
    for (int count = Below(rng, 13); count > 0; --count) {
        const bool literal = Below(rng, 3) == 0;
        const QChar c = Pick(rng, kLiteralPool);
        mask += literal ? QString(c) : "[" + RandomSet(rng) + "]";
        literals.append(literal ? std::optional<QChar>(c) : std::nullopt);
    }
    return mask;
}

void RandomStep(CMaskEngine& engine, std::mt19937& rng) {
    const int end = engine.PositionCount() + 1;
    switch (Below(rng, 8)) {
    case 0:
        return engine.MouseReleased(Below(rng, end + 2) - 1);
    case 1:
        return engine.SetSelection(Below(rng, end), Below(rng, end));
    default:
        return Press(engine, Pick(rng, kKeyPool));
    }
}

testing::AssertionResult KeepsShape(const CMaskEngine& engine,
                                    const QVector<std::optional<QChar>>& literals) {
    const QString& text = engine.Text();
    const int n = static_cast<int>(literals.size());
    bool fits = engine.PositionCount() == n && text.size() == n && engine.Caret() >= 0 &&
                engine.Caret() <= n && engine.SelectionStart() >= 0 &&
                engine.SelectionStart() <= engine.SelectionEnd() && engine.SelectionEnd() <= n;
    for (int i = 0; fits && i < n; ++i) {
        fits = literals.at(i) ? text.at(i) == *literals.at(i)
                              : text.at(i) == CMaskEngine::kPrompt ||
                                    engine.Positions().at(i).m_strChars.contains(text.at(i));
    }
    if (fits)
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "text " << text.toStdString() << ", caret " << engine.Caret() << ", selection "
           << engine.SelectionStart() << ".." << engine.SelectionEnd();
}

} // namespace

TEST(MaskRandomised, TextKeepsTheMaskShapeThroughAnyInput) {
    constexpr unsigned kFirstSeed = 20260;
    for (unsigned seed = kFirstSeed; seed < kFirstSeed + 300; ++seed) {
        std::mt19937 rng(seed);
        QVector<std::optional<QChar>> literals;
        const QString mask = RandomMask(rng, literals);
        const std::string trace = "seed " + std::to_string(seed) + ", mask " + mask.toStdString();
        const int end = static_cast<int>(literals.size()) + 2;
        QString defaultText;
        for (int length = Below(rng, 17); length > 0; --length)
            defaultText += Pick(rng, kKeyPool);
        CMaskEngine engine;
        ASSERT_TRUE(engine.SetMask(mask, defaultText, Below(rng, end), Below(rng, end))) << trace;
        for (int step = 0; step <= 20; ++step) {
            ASSERT_TRUE(KeepsShape(engine, literals)) << trace << ", step " << step;
            RandomStep(engine, rng);
        }
    }
}
