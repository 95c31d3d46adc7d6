// The widget's event plumbing; the editing rules are tested on the mask engine.
#include "widgets/maskedit.h"

#include <QDialog>
#include <QInputMethodEvent>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

// Two "tt:mm" fields at 00:00, the first focused, and a default OK button in an active dialog.
struct MaskEdit : testing::Test {
    void SetUp() override {
        auto* layout = new QVBoxLayout(&m_dialog);
        layout->addWidget(m_first);
        layout->addWidget(m_second);
        layout->addWidget(m_ok);
        m_ok->setDefault(true);
        QObject::connect(m_ok, &QPushButton::clicked, &m_dialog, &QDialog::accept);
        for (CMaskEdit* edit : {m_second, m_first})
            ASSERT_TRUE(edit->SetMask(QStringLiteral("[0-9][0-9]:[0-5][0-9]"), "0000", 0, 0));
        m_dialog.show();
        m_dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_dialog));
        ASSERT_TRUE(m_first->hasFocus());
    }
    QDialog m_dialog;
    CMaskEdit* m_first = new CMaskEdit;
    CMaskEdit* m_second = new CMaskEdit;
    QPushButton* m_ok = new QPushButton(QStringLiteral("OK"));
};

// Keys, clicks, drags and composed text go through the mask; paste and drop are off.
TEST_F(MaskEdit, EveryInputGoesThroughTheMask) {
    EXPECT_EQ(m_first->contextMenuPolicy(), Qt::NoContextMenu);
    EXPECT_FALSE(m_first->acceptDrops());
    QInputMethodEvent composed;
    composed.setCommitString(QStringLiteral("1a9"));
    QCoreApplication::sendEvent(m_first, &composed);
    EXPECT_EQ(m_first->text().toStdString(), "19:00");

    QTest::keyClick(m_first, Qt::Key_Home);
    QTest::keyClicks(m_first, QStringLiteral("1230"));
    EXPECT_EQ(m_first->text().toStdString(), "12:30");
    for (const Qt::Key key : {Qt::Key_Home, Qt::Key_Right, Qt::Key_Right, Qt::Key_7, Qt::Key_Delete,
                              Qt::Key_Left, Qt::Key_Backspace})
        QTest::keyClick(m_first, key);
    EXPECT_EQ(m_first->text().toStdString(), "1_:_0");
    QTest::keyClick(m_first, Qt::Key_End);
    QTest::keyClick(m_first, Qt::Key_Home, Qt::ShiftModifier);
    EXPECT_EQ(m_first->selectedText().toStdString(), "1_:_0");
    QTest::keyClick(m_first, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(m_first->text().toStdString(), "__:__");

    m_first->SetPlainText(QStringLiteral("12:30"));
    m_first->setSelection(3, 2); // as a drag leaves it
    QTest::keyClick(m_first, Qt::Key_Delete);
    EXPECT_EQ(m_first->text().toStdString(), "12:__");
    QTest::mouseDClick(m_first, Qt::LeftButton);
    QTest::keyClick(m_first, Qt::Key_4);
    EXPECT_EQ(m_first->text().toStdString(), "4_:__");

    EXPECT_FALSE(CMaskEdit().isEnabled());
    EXPECT_FALSE(m_first->SetMask(QStringLiteral("[-a]"), {}, 0, 0));
    EXPECT_EQ(m_first->text().toStdString(), "SetValidChars failed.");
    EXPECT_FALSE(m_first->isEnabled());
}

// The next key goes where the caret is shown after any press, also after the focus selection.
TEST_F(MaskEdit, TypingGoesWhereTheCaretIsShownAfterAClickWithAnyButton) {
    const std::pair<Qt::MouseButton, const char*> cases[] = {
        {Qt::LeftButton, "12:35"}, {Qt::MiddleButton, "12:35"}, {Qt::RightButton, "52:30"}};
    for (const auto& [button, typed] : cases) {
        m_first->SetPlainText(QStringLiteral("12:30"));
        QTest::keyClick(m_first, Qt::Key_End);
        QTest::keyClick(m_first, Qt::Key_Tab);
        m_first->setFocus(); // shows the focus selection, index 0
        QPoint point(0, m_first->height() / 2);
        while (m_first->cursorPositionAt(point) < 4)
            point.rx()++;
        QTest::mouseClick(m_first, button, {}, point);
        QTest::keyClick(m_first, Qt::Key_5);
        EXPECT_EQ(m_first->text().toStdString(), typed) << button;
    }
}

TEST_F(MaskEdit, TabMovesTheFocusEnterAndEscapeReachTheDialog) {
    QTest::keyClicks(m_first, QStringLiteral("12"));
    QTest::keyClick(m_first, Qt::Key_Tab);
    EXPECT_TRUE(m_second->hasFocus());
    QTest::keyClick(m_second, Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_TRUE(m_first->hasFocus());
    EXPECT_EQ(m_first->cursorPosition(), 0);
    QTest::keyClick(m_first, Qt::Key_5);
    EXPECT_EQ(m_first->text().toStdString(), "12:50");
    QTest::keyClick(m_first, Qt::Key_Backtab);
    EXPECT_TRUE(m_ok->hasFocus());
    QTest::keyClick(m_second, Qt::Key_Return);
    EXPECT_EQ(m_dialog.result(), QDialog::Accepted);
    m_dialog.show();
    QTest::keyClick(m_second, Qt::Key_Escape);
    EXPECT_EQ(m_dialog.result(), QDialog::Rejected);
}

} // namespace
