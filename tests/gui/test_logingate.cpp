// The login and message dialogs driven as an operator would, and the start-up
// gate over a real monitor database and a real lock file.
#include "gui/guisupport.h"
#include "gui/logingatesupport.h"
#include "ui/dlginloggning.h"
#include "ui/dlgmessage.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

constexpr int kShortMs = 50;

void TypeAndConfirm(QWidget& dialog, const QString& text) {
    auto* name = dialog.findChild<QLineEdit*>();
    QTest::keyClicks(name, text);
    QTest::keyClick(name, Qt::Key_Return);
}

// The dialog runs without a nested event loop, so the test can act while it is open.
struct LoginDialog : testing::Test {
    CRecordingMessenger messenger;
    CDlgInloggning dialog{messenger, nullptr, kShortMs};
    void SetUp() override { dialog.show(); }
};

// The time runs from the opening; a refused name does not stop it.
TEST_F(LoginDialog, TwoCharactersAreRefusedAndLeftAloneItLogsInAsMonitorStandard) {
    TypeAndConfirm(dialog, "Al");
    EXPECT_EQ(messenger.messages, QStringList{"Ange minst tre tecken"});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.findChild<QLineEdit*>()->text(), "Al");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.isVisible(); }));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Name(), "Monitor standard");
}

TEST_F(LoginDialog, AvbrytRejectsAndTheTimerNeverFires) {
    for (QPushButton* button : dialog.findChildren<QPushButton*>())
        if (button->text() == "Avbryt")
            QTest::mouseClick(button, Qt::LeftButton);
    QTest::qWait(4 * kShortMs);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(LoginDialogs, RunTheLoginModallyAndTakeThreeBlanksAsAName) {
    ScriptNextDialog([](QDialog& dialog) { TypeAndConfirm(dialog, "   "); });
    CRecordingMessenger messenger;
    EXPECT_EQ(CModalLoginDialogs(messenger).AskOperatorName(), "   ");
}

TEST(MessageDialog, ShowsItsTextAndClosesItselfWithAccepted) {
    CDlgMessage dialog("Applikationen har redan startats av Kalle ", nullptr, kShortMs);
    dialog.show();
    EXPECT_EQ(dialog.findChild<QLabel*>("messageText")->text(),
              "Applikationen har redan startats av Kalle ");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.isVisible(); }));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(LoginGate, CheckOffStartsWithoutLoginOrLock) {
    SetLoginCheck(0);
    EXPECT_TRUE(app.InitInstance());
    EXPECT_EQ(dialogs.asked, 0);
    EXPECT_FALSE(QFile::exists(lockPath));
}

// A second login of the same instance writes the new name into its own lock.
TEST_F(LoginGate, CheckOnLocksInTheOperatorsNameUntilTheExit) {
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(ReadLock(), LockText("Olle"));
    dialogs.answer = "Lisa";
    EXPECT_TRUE(app.LoginStep());
    EXPECT_EQ(ReadLock(), LockText("Lisa"));
    app.ExitInstance();
    EXPECT_FALSE(QFile::exists(lockPath));
}

TEST_F(LoginGate, ACancelledLoginLeavesNoLockAndAnUnreadableLockIsReportedAndKept) {
    dialogs.answer.reset();
    EXPECT_FALSE(app.InitInstance());
    EXPECT_TRUE(dialogs.shown.isEmpty() && messenger.messages.isEmpty());
    EXPECT_FALSE(QFile::exists(lockPath));
    ASSERT_TRUE(QDir().mkdir(lockPath));
    EXPECT_FALSE(CKvarnixMonitorApp(paths, clock, messenger, dialogs).InitInstance());
    ASSERT_EQ(messenger.messages.size(), 1);
    EXPECT_TRUE(messenger.messages[0].startsWith("Låsfilen " + lockPath + " kunde inte läsas: "));
    EXPECT_TRUE(QDir(lockPath).exists());
}

} // namespace
