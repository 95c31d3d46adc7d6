// The login and message dialogs driven as an operator would, the lock file, and
// the start-up gate over a real monitor database and real files.
#include "app/kvarnixmonitor.h"
#include "app/lockfile.h"
#include "app/mainfrm.h"
#include "app/programpaths.h"
#include "monitordb/systemdatabase.h"
#include "support/testsupport.h"
#include "ui/dlginloggning.h"
#include "ui/dlgmessage.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

constexpr int kShortMs = 50;

QPushButton* Button(QDialog& dialog, const QString& text) {
    for (QPushButton* button : dialog.findChildren<QPushButton*>())
        if (button->text() == text)
            return button;
    return nullptr;
}

QByteArray Content(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The dialogs run without a nested event loop, so the test can act while they are open.
struct LoginDialog : testing::Test {
    CRecordingMessenger messenger;
    CDlgInloggning dialog{messenger, nullptr, kShortMs};
    QSignalSpy finished{&dialog, &QDialog::finished};
    QLineEdit* name = dialog.findChild<QLineEdit*>();
    void SetUp() override { dialog.show(); }
};

TEST_F(LoginDialog, FocusGoesToOkThenTabsToAvbrytAndTheName) {
    EXPECT_EQ(dialog.windowTitle(), "Inloggning");
    EXPECT_EQ(dialog.findChild<QLabel*>()->text(), "Ange namn");
    EXPECT_TRUE(Button(dialog, "OK")->isDefault());
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    for (QWidget* expected :
         {static_cast<QWidget*>(Button(dialog, "OK")),
          static_cast<QWidget*>(Button(dialog, "Avbryt")), static_cast<QWidget*>(name)}) {
        EXPECT_EQ(QApplication::focusWidget(), expected);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
}

TEST_F(LoginDialog, TwoCharactersAreRefusedAndTheDialogStaysOpen) {
    QTest::keyClicks(name, "Al");
    QTest::mouseClick(Button(dialog, "OK"), Qt::LeftButton);
    EXPECT_EQ(messenger.messages, QStringList{"Ange minst tre tecken"});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(name->text(), "Al");
}

TEST_F(LoginDialog, ThreeBlanksAreANameAndEnterConfirms) {
    QTest::keyClicks(name, "   ");
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Name(), "   ");
    EXPECT_TRUE(messenger.messages.isEmpty());
}

TEST_F(LoginDialog, LeftAloneItLogsInAsMonitorStandardWhateverWasTyped) {
    QTest::keyClicks(name, "Al");
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Name(), "Monitor standard");
    EXPECT_TRUE(messenger.messages.isEmpty());
}

TEST_F(LoginDialog, AvbrytRejectsAndTheTimerNeverFires) {
    QTest::keyClicks(name, "Kalle");
    QTest::mouseClick(Button(dialog, "Avbryt"), Qt::LeftButton);
    QTest::qWait(4 * kShortMs);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(dialog.Name(), "");
}

struct MessageDialog : testing::Test {
    CDlgMessage dialog{"Applikationen har redan startats av Kalle ", nullptr, kShortMs};
    QSignalSpy finished{&dialog, &QDialog::finished};
    void SetUp() override { dialog.show(); }
};

TEST_F(MessageDialog, ShowsItsTextAndClosesItselfWithAccepted) {
    EXPECT_EQ(dialog.windowTitle(), "KvarnixMonitor");
    EXPECT_EQ(dialog.findChild<QLabel*>("messageText")->text(),
              "Applikationen har redan startats av Kalle ");
    EXPECT_EQ(dialog.findChildren<QPushButton*>().size(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(MessageDialog, EscapeClosesAtOnceAndTheTimerChangesNothing) {
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QTest::qWait(4 * kShortMs);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

struct LockFile : testing::Test {
    CTestFolder folder;
    CLockFile lock{folder.File("MonitorLoc.loc")};
};

TEST_F(LockFile, HoldsExactlyTheNameAndIsCreatedOnlyWhereNoneExists) {
    EXPECT_FALSE(lock.Exists());
    EXPECT_EQ(lock.CreateWithName("Åsa Öberg"), CLockFile::CreateResult::Created);
    EXPECT_EQ(Content(lock.Path()), QString("Åsa Öberg").toUtf8());
    EXPECT_EQ(lock.CreateWithName("Olle"), CLockFile::CreateResult::AlreadyExists);
    EXPECT_EQ(lock.ReadName(), "Åsa Öberg");
    EXPECT_TRUE(lock.Remove());
    EXPECT_FALSE(lock.Exists());
}

TEST_F(LockFile, TheNameIsTheFirstLineAndMayBeEmpty) {
    folder.WriteText(lock.Path(), "Kalle\r\nOlle\n");
    EXPECT_EQ(lock.ReadName(), "Kalle");
    folder.WriteText(lock.Path(), "\nOlle");
    EXPECT_EQ(lock.ReadName(), "");
}

TEST_F(LockFile, FailuresAreToldInSwedishAndApartFromAnExistingLock) {
    EXPECT_EQ(lock.ReadName(), std::nullopt);
    EXPECT_TRUE(lock.ErrorText().startsWith("Låsfilen " + lock.Path() + " kunde inte läsas: "));
    CLockFile nowhere(folder.File("saknas/MonitorLoc.loc"));
    EXPECT_EQ(nowhere.CreateWithName("Kalle"), CLockFile::CreateResult::Failed);
    EXPECT_TRUE(nowhere.ErrorText().contains("kunde inte skapas: "));
    EXPECT_FALSE(nowhere.Remove());
    EXPECT_TRUE(nowhere.ErrorText().contains("kunde inte tas bort: "));
}

TEST_F(LockFile, OfManyCreatorsAtOnceExactlyOneWinsEveryRound) {
    constexpr int kCreators = 6;
    for (int round = 0; round < 200; ++round) {
        const QString path = folder.File(QString("MonitorLoc%1.loc").arg(round));
        std::atomic<bool> go{false};
        std::atomic<int> created{0};
        std::atomic<int> refused{0};
        std::vector<std::thread> creators;
        for (int i = 0; i < kCreators; ++i)
            creators.emplace_back([&, i] {
                while (!go)
                    std::this_thread::yield();
                const auto result = CLockFile(path).CreateWithName(QString("Operatör %1").arg(i));
                ++(result == CLockFile::CreateResult::Created ? created : refused);
            });
        go = true;
        for (std::thread& creator : creators)
            creator.join();
        ASSERT_EQ(created, 1) << "round " << round;
        ASSERT_EQ(refused, kCreators - 1) << "round " << round;
        EXPECT_TRUE(Content(path).startsWith("Operatör "));
    }
}

// Answers the login gate's dialogs as the test says.
class CScriptedLoginDialogs : public CLoginDialogs {
public:
    std::optional<QString> AskOperatorName() override {
        ++asked;
        if (whileAsking)
            whileAsking();
        return answer;
    }
    void ShowAlreadyStarted(const QString& text) override { shown << text; }

    std::optional<QString> answer;
    std::function<void()> whileAsking;
    int asked = 0;
    QStringList shown;
};

// The real dialogs, answered once their modal loop runs.
template <typename Dialog> void AnswerNextDialog(const std::function<void(Dialog&)>& answer) {
    QTimer::singleShot(0, [answer] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        answer(*dialog);
    });
}

TEST(LoginDialogs, RunModallyAndGiveTheTypedName) {
    CRecordingMessenger messenger;
    CModalLoginDialogs dialogs(messenger);
    AnswerNextDialog<CDlgInloggning>([](CDlgInloggning& dialog) {
        QTest::keyClicks(dialog.findChild<QLineEdit*>(), "Kalle");
        QTest::mouseClick(Button(dialog, "OK"), Qt::LeftButton);
    });
    EXPECT_EQ(dialogs.AskOperatorName(), "Kalle");
    AnswerNextDialog<CDlgMessage>(
        [](CDlgMessage& dialog) { QTest::mouseClick(Button(dialog, "OK"), Qt::LeftButton); });
    dialogs.ShowAlreadyStarted("Applikationen har redan startats av Kalle ");
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

// An instance without the check never wrote the lock, so its exit leaves
// another instance's lock alone.
TEST_F(LoginGate, CheckOffRunsAnyNumberOfInstancesAndTouchesNoLock) {
    SetLoginCheck(0);
    CKvarnixMonitorApp second(paths, clock, messenger, dialogs);
    EXPECT_TRUE(app.InitInstance());
    EXPECT_TRUE(second.InitInstance());
    EXPECT_TRUE(app.MainFrame()->isVisible());
    EXPECT_EQ(dialogs.asked, 0);
    EXPECT_FALSE(QFile::exists(lockPath));
    folder.WriteText(lockPath, "Kalle");
    app.ExitInstance();
    EXPECT_EQ(Content(lockPath), "Kalle");
}

TEST_F(LoginGate, CheckOnWritesTheNameAndTheExitRemovesIt) {
    SetLoginCheck(1);
    dialogs.answer = "Kalle Anka";
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(Content(lockPath), "Kalle Anka");
    app.ExitInstance();
    EXPECT_FALSE(QFile::exists(lockPath));
}

TEST_F(LoginGate, AHeldLockNamesItsHolderAndEndsTheStart) {
    SetLoginCheck(1);
    folder.WriteText(lockPath, "Kalle");
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(dialogs.shown, QStringList{"Applikationen har redan startats av Kalle "});
    EXPECT_EQ(dialogs.asked, 0);
    EXPECT_EQ(app.MainFrame(), nullptr);
    app.ExitInstance();
    EXPECT_EQ(Content(lockPath), "Kalle");
}

TEST_F(LoginGate, ACancelledLoginEndsWithoutMessageOrLock) {
    SetLoginCheck(1);
    EXPECT_FALSE(app.InitInstance());
    EXPECT_TRUE(dialogs.shown.isEmpty() && messenger.messages.isEmpty());
    EXPECT_FALSE(QFile::exists(lockPath));
}

TEST_F(LoginGate, OfTwoStartsAtOnceOnlyOneRunsAndTheOtherNamesIt) {
    SetLoginCheck(1);
    CScriptedLoginDialogs otherDialogs;
    otherDialogs.answer = "Kalle";
    CKvarnixMonitorApp other(paths, clock, messenger, otherDialogs);
    dialogs.answer = "Olle";
    dialogs.whileAsking = [&] { EXPECT_TRUE(other.InitInstance()); };
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(dialogs.shown, QStringList{"Applikationen har redan startats av Kalle "});
    app.ExitInstance();
    EXPECT_EQ(Content(lockPath), "Kalle");
}

TEST_F(LoginGate, AnUnreadableLockIsReportedAndNeverRemoved) {
    SetLoginCheck(1);
    ASSERT_TRUE(QDir(folder.Path()).mkdir("MonitorLoc.loc"));
    EXPECT_FALSE(app.InitInstance());
    ASSERT_EQ(messenger.messages.size(), 1);
    EXPECT_TRUE(messenger.messages[0].contains("kunde inte läsas"));
    app.ExitInstance();
    EXPECT_TRUE(QFileInfo(lockPath).isDir());
}

TEST_F(LoginGate, ALaterLoginRenamesOwnLockButCannotTakeAnother) {
    SetLoginCheck(0);
    ASSERT_TRUE(app.InitInstance());
    dialogs.answer = "Olle";
    folder.WriteText(lockPath, "Kalle");
    EXPECT_FALSE(app.LoginStep());
    EXPECT_EQ(Content(lockPath), "Kalle");
    ASSERT_TRUE(QFile::remove(lockPath));
    EXPECT_TRUE(app.LoginStep());
    dialogs.answer = "Lisa";
    EXPECT_TRUE(app.LoginStep());
    EXPECT_EQ(Content(lockPath), "Lisa");
}

} // namespace
