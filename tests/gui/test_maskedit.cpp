#include "ui/maskedit.h"

#include <QClipboard>
#include <QDialog>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

const QString kCyclicMask = QStringLiteral("[0-9][0-9]:[0-5][0-9]");

// A point where a click puts the caret at index.
QPoint PointAt(CMaskEdit& edit, int index) {
    const int y = edit.height() / 2;
    for (int x = 0; x < edit.width(); ++x) {
        if (edit.cursorPositionAt(QPoint(x, y)) == index + 1)
            return QPoint(x - 1, y);
    }
    return {};
}

} // namespace

// Two "tt:mm" fields showing 00:00 in a shown, active window, the first focused.
class MaskEdit : public testing::Test {
protected:
    void SetUp() override {
        auto* layout = new QVBoxLayout(&m_window);
        layout->addWidget(m_first = new CMaskEdit);
        layout->addWidget(m_second = new CMaskEdit);
        ASSERT_TRUE(m_second->SetMask(kCyclicMask, QStringLiteral("0000"), 0, 0));
        ASSERT_TRUE(m_first->SetMask(kCyclicMask, QStringLiteral("0000"), 0, 0));
        m_window.show();
        m_window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_window));
        ASSERT_TRUE(m_first->hasFocus());
    }

    QWidget m_window;
    CMaskEdit* m_first = nullptr;
    CMaskEdit* m_second = nullptr;
};

TEST(MaskEditControl, WithoutAValidMaskIsDisabledAndShowsWhy) {
    CMaskEdit edit;
    EXPECT_FALSE(edit.isEnabled());
    QTest::keyClicks(&edit, QStringLiteral("12"));
    EXPECT_EQ(edit.text().toStdString(), "");
    EXPECT_FALSE(edit.SetMask(QStringLiteral("[-a]"), {}, 0, 0));
    EXPECT_EQ(edit.text().toStdString(), "SetValidChars failed.");
    EXPECT_FALSE(edit.isEnabled());
    EXPECT_TRUE(edit.SetMask(kCyclicMask, QStringLiteral("0000"), 0, 0));
    EXPECT_EQ(edit.text().toStdString(), "00:00");
    EXPECT_TRUE(edit.isEnabled());
    EXPECT_FALSE(edit.SetMask(QStringLiteral("[[0-9]]"), {}, 0, 0));
    EXPECT_EQ(edit.text().toStdString(), "Fel vid initiering");
    EXPECT_FALSE(edit.isEnabled());
}

TEST_F(MaskEdit, KeysGoThroughTheMask) {
    QTest::keyClicks(m_first, QStringLiteral("12305"));
    EXPECT_EQ(m_first->text().toStdString(), "12:30");
    EXPECT_EQ(m_first->cursorPosition(), 5);
    QTest::keyClick(m_second, Qt::Key_Right);
    QTest::keyClick(m_second, Qt::Key_Right);
    QTest::keyClick(m_second, Qt::Key_7);
    EXPECT_EQ(m_second->cursorPosition(), 3);
    QTest::keyClick(m_second, Qt::Key_Delete);
    QTest::keyClick(m_second, Qt::Key_7);
    EXPECT_EQ(m_second->text().toStdString(), "00:_7");
    QTest::keyClick(m_second, Qt::Key_Home);
    QTest::keyClick(m_second, Qt::Key_Right);
    QTest::keyClick(m_second, Qt::Key_Backspace);
    EXPECT_EQ(m_second->text().toStdString(), "_0:_7");
    QTest::keyClick(m_second, Qt::Key_End);
    QTest::keyClick(m_second, Qt::Key_Home, Qt::ShiftModifier);
    EXPECT_EQ(m_second->selectedText().toStdString(), "_0:_7");
}

TEST_F(MaskEdit, ClickPutsTheCaretWhereItLands) {
    m_first->SetPlainText(QStringLiteral("12:30"));
    QTest::mouseClick(m_first, Qt::LeftButton, {}, PointAt(*m_first, 2));
    EXPECT_EQ(m_first->cursorPosition(), 2);
    QTest::keyClick(m_first, Qt::Key_Delete);
    QTest::keyClick(m_first, Qt::Key_4);
    EXPECT_EQ(m_first->text().toStdString(), "12:40");
}

TEST_F(MaskEdit, DoubleClickSelectionIsReplacedByATypedCharacter) {
    m_first->SetPlainText(QStringLiteral("12:30"));
    QTest::mouseDClick(m_first, Qt::LeftButton);
    EXPECT_EQ(m_first->selectedText().toStdString(), "12:30");
    QTest::keyClick(m_first, Qt::Key_4);
    EXPECT_EQ(m_first->text().toStdString(), "4_:__");
    EXPECT_EQ(m_first->cursorPosition(), 1);
}

TEST_F(MaskEdit, CtrlCEmptiesASelection) {
    m_first->SetPlainText(QStringLiteral("12:30"));
    QTest::mouseDClick(m_first, Qt::LeftButton);
    QTest::sendKeyEvent(QTest::Click, m_first, Qt::Key_C, QStringLiteral("\x03"),
                        Qt::ControlModifier);
    EXPECT_EQ(m_first->text().toStdString(), "__:__");
    EXPECT_EQ(m_first->cursorPosition(), 0);
}

TEST_F(MaskEdit, TabMovesTheFocusAndTypingResumesAtTheCaret) {
    QTest::keyClicks(m_first, QStringLiteral("12"));
    QTest::keyClick(m_first, Qt::Key_Tab);
    EXPECT_TRUE(m_second->hasFocus());
    QTest::keyClick(m_second, Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_TRUE(m_first->hasFocus());
    EXPECT_EQ(m_first->cursorPosition(), 0);
    QTest::keyClick(m_first, Qt::Key_5);
    EXPECT_EQ(m_first->text().toStdString(), "12:50");
    QTest::keyClick(m_first, Qt::Key_Backtab);
    EXPECT_TRUE(m_second->hasFocus());
}

TEST_F(MaskEdit, TextArrivesOnlyThroughTheMask) {
    QGuiApplication::clipboard()->setText(QStringLiteral("99:99"));
    QTest::keyClick(m_first, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(m_first, Qt::Key_Insert, Qt::ShiftModifier);
    QTest::keyClick(m_first, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(m_first->text().toStdString(), "00:00");
    EXPECT_EQ(m_first->contextMenuPolicy(), Qt::NoContextMenu);
    EXPECT_FALSE(m_first->acceptDrops());
    QInputMethodEvent composed;
    composed.setCommitString(QStringLiteral("1a9"));
    QCoreApplication::sendEvent(m_first, &composed);
    EXPECT_EQ(m_first->text().toStdString(), "19:00");
}

TEST(MaskEditControl, EnterAndEscapeReachTheDialog) {
    QDialog dialog;
    auto* layout = new QVBoxLayout(&dialog);
    auto* edit = new CMaskEdit;
    auto* ok = new QPushButton(QStringLiteral("OK"));
    layout->addWidget(edit);
    layout->addWidget(ok);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    ASSERT_TRUE(edit->SetMask(kCyclicMask, QStringLiteral("0000"), 0, 0));
    dialog.show();
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    dialog.show();
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}
