// The login and message dialogs, and the start-up gate over a real database and lock file.
#include "application/messageboxmessenger.h"
#include "dialogs/dlginloggning.h"
#include "dialogs/dlgmessage.h"
#include "gui/guisupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace {

constexpr int kShortMs = 50;

void TypeAndConfirm(QWidget& dialog, const QString& text) {
    auto* name = dialog.findChild<QLineEdit*>();
    QTest::keyClicks(name, text);
    QTest::keyClick(name, Qt::Key_Return);
}

// Avbryt stops the login's timer; three blanks are a name; the message box ends itself.
TEST(LoginAndMessageDialogs, AvbrytRejectsBlanksAreANameAndTheMessageClosesItself) {
    CRecordingMessenger messenger;
    CDlgInloggning login{messenger, nullptr, kShortMs};
    login.show(); // without a nested event loop, so the test can act while it is open
    for (QPushButton* button : login.findChildren<QPushButton*>())
        if (button->text() == "Avbryt")
            QTest::mouseClick(button, Qt::LeftButton);
    QTest::qWait(4 * kShortMs);
    EXPECT_EQ(login.result(), QDialog::Rejected);

    ScriptNextDialog([](QDialog& dialog) { TypeAndConfirm(dialog, "   "); });
    EXPECT_EQ(CModalLoginDialogs(messenger).AskOperatorName(), "   ");

    CDlgMessage message("Hej", nullptr, kShortMs);
    message.show();
    EXPECT_EQ(message.findChild<QLabel*>("messageText")->text(), "Hej");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !message.isVisible(); }));
    EXPECT_EQ(message.result(), QDialog::Accepted);
}

// With the check off the start asks no name.
TEST_F(LoginGate, NoLockIsWrittenWhenTheLoginIsCancelledOrTheCheckIsOff) {
    dialogs.answer.reset();
    EXPECT_FALSE(app.InitInstance());
    EXPECT_TRUE(dialogs.shown.isEmpty() && messenger.messages.isEmpty());
    SetLoginCheck(0);
    EXPECT_TRUE(app.InitInstance());
    EXPECT_EQ(dialogs.asked, 1);
    EXPECT_FALSE(QFile::exists(lockPath));
}

// Two characters are refused; left alone, the login ends its box itself as "Monitor standard".
TEST_F(LoginGate, AnUnattendedStartEndsTheLoginWhateverBoxItHasOpen) {
    CMessageBoxMessenger boxes;
    CModalLoginDialogs modalDialogs(boxes, kShortMs);
    CKvarnixMonitorApp unattended(paths, clock, boxes, modalDialogs);
    QString refusal, nameWhileRefused;
    bool boxLeftOpen = false;
    const QObject testEnd; // stops the timers below with the test
    ScriptNextDialog([&](QDialog& login) {
        // Runs in the refusal box's own event loop, once the box is up.
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                refusal = box->text();
            if (login.isVisible())
                nameWhileRefused = login.findChild<QLineEdit*>()->text();
        });
        // Ends a test whose box nobody closed instead of waiting for ever.
        QTimer::singleShot(40 * kShortMs, &testEnd, [&] {
            for (QWidget* window : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(window); box && box->isVisible()) {
                    boxLeftOpen = true;
                    box->reject();
                }
        });
        TypeAndConfirm(login, "ab");
    });

    EXPECT_TRUE(unattended.InitInstance());
    EXPECT_EQ(refusal, "Ange minst tre tecken");
    EXPECT_EQ(nameWhileRefused, "ab");
    EXPECT_FALSE(boxLeftOpen);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(ReadLock().section('\n', 0, 0), "Monitor standard");
}

} // namespace
