// The login and message dialogs driven as an operator would, the lock file, and
// the start-up gate over a real monitor database and real files.
#include "app/kvarnixmonitor.h"
#include "app/mainfrm.h"
#include "app/programpaths.h"
#include "monitordb/systemdatabase.h"
#include "support/testsupport.h"
#include "ui/dlginloggning.h"
#include "ui/dlgmessage.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSysInfo>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kShortMs = 50;
const QString kHeldByKalle = QStringLiteral("Applikationen har redan startats av Kalle ");

QByteArray Content(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// A lock this process writes, byte for byte: the name alone on the first line,
// then the process id and the host name.
QByteArray OwnLock(const QString& name) {
    const QString host = QSysInfo::machineHostName();
    return (name + '\n' + QString::number(::getpid()) + '\n' + host + '\n').toUtf8();
}

// The dialogs run without a nested event loop, so the test can act while they are open.
struct LoginDialog : testing::Test {
    CRecordingMessenger messenger;
    CDlgInloggning dialog{messenger, nullptr, kShortMs};
    QLineEdit* name = dialog.findChild<QLineEdit*>();
    void SetUp() override { dialog.show(); }
};

// The time runs from the opening; a refused name does not stop it.
TEST_F(LoginDialog, TwoCharactersAreRefusedAndLeftAloneItLogsInAsMonitorStandard) {
    QTest::keyClicks(name, "Al");
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_EQ(messenger.messages, QStringList{"Ange minst tre tecken"});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(name->text(), "Al");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.isVisible(); }));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Name(), "Monitor standard");
}

TEST_F(LoginDialog, ThreeBlanksAreANameAndEnterConfirms) {
    QTest::keyClicks(name, "   ");
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Name(), "   ");
}

TEST_F(LoginDialog, AvbrytRejectsAndTheTimerNeverFires) {
    for (QPushButton* button : dialog.findChildren<QPushButton*>())
        if (button->text() == "Avbryt")
            QTest::mouseClick(button, Qt::LeftButton);
    QTest::qWait(4 * kShortMs);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(MessageDialog, ShowsItsTextAndClosesItselfWithAccepted) {
    CDlgMessage dialog(kHeldByKalle, nullptr, kShortMs);
    dialog.show();
    EXPECT_EQ(dialog.findChild<QLabel*>("messageText")->text(), kHeldByKalle);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.isVisible(); }));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(LockFile, OfManyCreatorsAtOnceOneWinsEveryRoundAndWritesExactlyItsName) {
    CTestFolder folder;
    for (int round = 0; round < 200; ++round) {
        const QString path = folder.File(QString("MonitorLoc%1.loc").arg(round));
        std::atomic<bool> go{false};
        std::atomic<int> refused{0}, winner{-1};
        std::thread creators[6];
        for (int i = 0; i < 6; ++i)
            creators[i] = std::thread([&, i] {
                while (!go)
                    std::this_thread::yield();
                const auto result = CLockFile(path).CreateWithName(QString("Operatör %1").arg(i));
                if (result == CLockFile::CreateResult::Created)
                    winner = i;
                refused += result == CLockFile::CreateResult::AlreadyExists;
            });
        go = true;
        for (std::thread& creator : creators)
            creator.join();
        // Five refused and the sixth's lock in the file: exactly one won.
        ASSERT_EQ(refused, 5) << "round " << round;
        EXPECT_EQ(Content(path), OwnLock(QString("Operatör %1").arg(winner)));
    }
}

TEST(LockFile, AFailedCreationIsToldApartFromAnExistingLock) {
    CTestFolder folder;
    CLockFile nowhere(folder.File("saknas/MonitorLoc.loc"));
    EXPECT_EQ(nowhere.CreateWithName("Kalle"), CLockFile::CreateResult::Failed);
    EXPECT_TRUE(nowhere.ErrorText().contains("kunde inte skapas: "));
}

// Answers the login gate's dialogs as the test says.
struct CScriptedLoginDialogs : CLoginDialogs {
    std::optional<QString> AskOperatorName() override {
        ++asked;
        return answer;
    }
    void ShowAlreadyStarted(const QString& text) override { shown << text; }

    std::optional<QString> answer;
    int asked = 0;
    QStringList shown;
};

TEST(LoginDialogs, RunTheLoginModallyAndGiveTheTypedName) {
    QTimer::singleShot(0, [] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(qobject_cast<CDlgInloggning*>(dialog), nullptr);
        QTest::keyClicks(dialog->findChild<QLineEdit*>(), "Kalle");
        QTest::keyClick(dialog->findChild<QLineEdit*>(), Qt::Key_Return);
    });
    CRecordingMessenger messenger;
    EXPECT_EQ(CModalLoginDialogs(messenger).AskOperatorName(), "Kalle");
}

struct LoginGate : testing::Test {
    CTestFolder folder;
    CProgramPaths paths{folder.ProgramFile()};
    CSystemClock clock;
    CRecordingMessenger messenger;
    CScriptedLoginDialogs dialogs;
    CKvarnixMonitorApp app{paths, clock, messenger, dialogs};
    QString lockPath = folder.File("MonitorLoc.loc");

    void SetLoginCheck(int value) {
        CSystemDatabase db(paths.MonitorDatabase(), messenger);
        ASSERT_TRUE(db.Open());
        db.SetSetting("INLOGGNINGSKONTROLL", value);
    }
};

// Only the instance that wrote the lock removes it.
TEST_F(LoginGate, CheckOnLetsOneOperatorInAndNamesThemToTheNextStart) {
    SetLoginCheck(1);
    dialogs.answer = "Kalle";
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(Content(lockPath), OwnLock("Kalle"));
    CKvarnixMonitorApp second(paths, clock, messenger, dialogs);
    EXPECT_FALSE(second.InitInstance());
    EXPECT_EQ(dialogs.shown, QStringList{kHeldByKalle});
    EXPECT_EQ(dialogs.asked, 1);
    second.ExitInstance();
    EXPECT_EQ(Content(lockPath), OwnLock("Kalle"));
    app.ExitInstance();
    EXPECT_FALSE(QFile::exists(lockPath));
}

TEST_F(LoginGate, ACancelledLoginLeavesNoLockAndAnUnreadableLockIsReportedAndKept) {
    SetLoginCheck(1);
    EXPECT_FALSE(app.InitInstance());
    EXPECT_TRUE(dialogs.shown.isEmpty() && messenger.messages.isEmpty());
    EXPECT_FALSE(QFile::exists(lockPath));
    ASSERT_TRUE(QDir().mkdir(lockPath));
    CKvarnixMonitorApp second(paths, clock, messenger, dialogs);
    EXPECT_FALSE(second.InitInstance());
    ASSERT_EQ(messenger.messages.size(), 1);
    EXPECT_TRUE(messenger.messages[0].startsWith("Låsfilen " + lockPath + " kunde inte läsas: "));
    second.ExitInstance();
    EXPECT_TRUE(QDir(lockPath).exists());
}

// With the check off no lock is written; a later login from the main window
// cannot take another instance's lock, which then outlives this instance, but
// renames the lock of its own.
TEST_F(LoginGate, CheckOffRunsAnyNumberOfInstancesAndALaterLoginTakesOnlyAFreeLock) {
    SetLoginCheck(0);
    CKvarnixMonitorApp second(paths, clock, messenger, dialogs);
    EXPECT_TRUE(app.InitInstance());
    EXPECT_TRUE(second.InitInstance());
    EXPECT_TRUE(app.MainFrame()->isVisible());
    EXPECT_EQ(dialogs.asked, 0);
    EXPECT_FALSE(QFile::exists(lockPath));
    folder.WriteText(lockPath, "Kalle\r\nOlle\n");
    dialogs.answer = "Olle";
    EXPECT_FALSE(app.LoginStep());
    EXPECT_EQ(dialogs.shown, QStringList{kHeldByKalle});
    app.ExitInstance();
    EXPECT_EQ(Content(lockPath), "Kalle\r\nOlle\n");
    ASSERT_TRUE(QFile::remove(lockPath));
    EXPECT_TRUE(second.LoginStep());
    dialogs.answer = "Lisa";
    EXPECT_TRUE(second.LoginStep());
    EXPECT_EQ(Content(lockPath), OwnLock("Lisa"));
}

} // namespace
