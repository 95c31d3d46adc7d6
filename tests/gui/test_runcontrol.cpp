// What the window offers for supervised runs: the cancel, the time limit, the failure command,
// and the history's end, cost and output of each run.
#include "dialogs/dlginmatning.h"
#include "dialogs/dlgkorhistorik.h"
#include "dialogs/dlgprogramval.h"
#include "dialogs/dlgvisalogg.h"
#include "gui/guisupport.h"
#include "history/runhistorymodel.h"
#include "support/schedulerrig.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <csignal>

namespace {

struct RunControlTest : MainWindowTest {
    void SetUp() override {
        ASSERT_NO_THROW(db.OpenOrCreate());
        db.SaveRow("- - - -", KVARNIX_SIMULATOR, "- - - -", 0, 0);
    }
    void TearDown() override {
        qunsetenv("KVARNIXSIM_SECONDS");
        for (const int key : {running, idle}) {
            const std::optional<CRun> run = key > 0 ? db.LatestRun(key) : std::nullopt;
            if (run && !run->endMs && run->processId > 0)
                ::kill(pid_t(run->processId), SIGKILL);
        }
    }
    QAction* Command(const QString& text) {
        for (QAction* command : List().ContextMenu()->actions())
            if (command->text() == text)
                return command;
        return nullptr;
    }
    bool CancelOffered(int line) {
        ClickLine(line, 40, Qt::RightButton);
        List().ContextMenu()->close();
        return Command("Avbryt körning")->isEnabled();
    }

    int running = 0;
    int idle = 0;
};

// Offered only on the line whose supervised run goes on; a "Nej" leaves the run alone, a "Ja"
// has its supervisor stop it and record who asked.
TEST_F(RunControlTest, ARunIsCancelledFromItsLineAfterAYes) {
    const QString model = folder.File("Pump");
    folder.WriteText(model + ".vxm", "modell");
    running = db.SaveRow("00:05", model, "Dygn", -1, 0);
    idle = db.SaveRow("00:09", folder.File("Kvarn"), "Timme", -1, 0);
    CSystemClock realClock;
    CSchedulerRig other{folder.ProgramFile(), realClock};
    qputenv("KVARNIXSIM_SECONDS", "600");
    other.scheduler.RunNow(running, [](const CLaunchReport&) {});
    ASSERT_TRUE(QTest::qWaitFor([&] { return db.LatestRun(running)->supervisor > 0; }, 10000));
    Start();
    View().RefreshRunStates();

    EXPECT_FALSE(CancelOffered(1));
    EXPECT_TRUE(CancelOffered(0));
    messenger.answers = {false};
    Command("Avbryt körning")->trigger();
    EXPECT_EQ(messenger.questions.last(),
              "Vill du avbryta den pågående körningen av " + model + "?");
    EXPECT_EQ(db.LatestRun(running)->cancelledBy, "");

    messenger.answers = {true};
    EXPECT_TRUE(CancelOffered(0));
    Command("Avbryt körning")->trigger();
    EXPECT_EQ(db.LatestRun(running)->cancelledBy, CScheduleCommands::Requester());
    EXPECT_FALSE(CancelOffered(0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return db.LatestRun(running)->ended.has_value(); }, 10000));
    EXPECT_EQ(db.LatestRun(running)->outcome, CRun::Outcome::Cancelled);
    EXPECT_TRUE(messenger.messages.isEmpty());
}

// The limit typed into the row's dialog is stored with the row and shown again; a row that
// never had one gets no number.
TEST_F(RunControlTest, TheTimeLimitIsEnteredWithTheRow) {
    const QString model = folder.File("Pump");
    folder.CreateModel(model, {"Dygn", "Timme"});
    const int limited = db.SaveRow("00:05", model, "Dygn", -1, 1);
    const int unlimited = db.SaveRow("00:07", model, "Timme", -1, 1);
    Start();
    const auto change = [&](int line, int minutes) {
        ScriptNextDialog([&](QDialog& d) {
            auto* limit = Child<QSpinBox>(d, "timeLimitBox");
            EXPECT_EQ(limit->value(), 0);
            limit->setValue(minutes);
            ClickChild(d, "okButton");
        });
        RunContextCommand(line, "Ändra");
    };
    change(0, 45);
    change(1, 0);
    EXPECT_EQ(db.StoredNumber(QString("MAXTID%1").arg(limited)), 45);
    EXPECT_FALSE(db.StoredNumber(QString("MAXTID%1").arg(unlimited)).has_value());
    ScriptNextDialog([&](QDialog& d) {
        EXPECT_EQ(Child<QSpinBox>(d, "timeLimitBox")->value(), 45);
        Child<QSpinBox>(d, "timeLimitBox")->setValue(0);
        ClickChild(d, "okButton");
    });
    RunContextCommand(0, "Ändra");
    EXPECT_EQ(db.StoredNumber(QString("MAXTID%1").arg(limited)), 0);
    EXPECT_TRUE(messenger.messages.isEmpty());
}

// A command that cannot be started is refused when it is typed, not after the first failure.
TEST_F(RunControlTest, TheFailureCommandIsCheckedAndStoredAsText) {
    const QString command = folder.File("meddela drift.sh");
    folder.WriteText(command, "#!/bin/sh\n");
    QFile(command).setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const CScheduleCommands schedule(folder.DatabaseFile());
    CScriptedFileChooser chooser;
    CDlgProgramVal dialog(settings, schedule, messenger, chooser, [] { return true; });
    ScriptNextDialog([&](QDialog& d) {
        auto* field = Child<QLineEdit>(d, "failureCommandEdit");
        EXPECT_EQ(field->text(), "");
        QTest::keyClicks(field, folder.File("finns-inte"));
        ClickChild(d, "okButton");
        EXPECT_TRUE(d.isVisible());
        field->setText(command);
        ClickChild(d, "okButton");
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(dialog.Run(), CDlgProgramVal::ResultOk);
    EXPECT_EQ(messenger.messages,
              QStringList{"Kommandot i fältet Kör vid fel kan inte startas: programmet " +
                          folder.File("finns-inte") + " finns inte."});
    EXPECT_EQ(db.TextSettings().value("KOR_VID_FEL"), command);
    EXPECT_EQ(settings.failureCommand, command);
}

// Exit status, CPU time and peak memory in columns of their own; "Visa utskrift" only for a
// run that has output, showing its end.
TEST_F(RunControlTest, TheHistoryShowsEachRunsEndAndItsOutput) {
    const int key = db.SaveRow("00:05", "/m/Pump", "Dygn", -1, 0);
    const qint64 start = LocalTime("2026-12-01 06:00").toSecsSinceEpoch();
    CRun older{key, "/m/Pump", "Dygn", start, {}, {}, CRun::Outcome::Running, {}};
    db.RecordStart(older);
    db.EndRun(key, start + 65, CRun::Outcome::Finished);
    CRun failed{key, "/m/Pump", "Dygn", start + 600, {}, {}, CRun::Outcome::Pending, {}};
    failed.id = db.InsertPendingRun(failed, 1);
    const QString output = folder.File("utskrift.txt");
    folder.WriteText(output, "första raden\nsista raden\n");
    db.MarkStarted(failed.id, start + 600, "kvarn1", output);
    CSqliteConnection file;
    file.Open(folder.DatabaseFile(), CSqliteConnection::OpenMode::ExistingFile, 5000);
    file.Prepare("UPDATE KORNINGAR SET SLUT = ?1 / 1000, SLUT_MS = ?1, START_MS = ?2, UTFALL = "
                 "'misslyckades', KOD = 3, CPU_MS = 2340, MINNE_KB = 36045 WHERE rowid = ?3")
        .Bind(1, (start + 612) * 1000 + 500)
        .Bind(2, (start + 600) * 1000 + 250)
        .Bind(3, failed.id)
        .Run();

    const CScheduleCommands schedule(folder.DatabaseFile());
    CDlgKorhistorik history(schedule, key, "/m/Pump", messenger);
    QStringList shownOutput;
    ScriptNextDialog([&](QDialog& d) {
        const QAbstractItemModel& runs = history.Runs();
        const auto line = [&](int row) {
            QStringList cells;
            for (int column = 0; column < runs.columnCount(); ++column)
                cells << runs.index(row, column).data().toString();
            return cells;
        };
        EXPECT_EQ(line(0), (QStringList{TimeText(start + 600), "12,3 s", "3", "2,3 s", "35,2 MiB",
                                        "misslyckades (kod 3)"}));
        EXPECT_EQ(line(1), (QStringList{TimeText(start), "1 min 5 s", "-", "-", "-", "klar"}));
        auto* table = Child<QTableView>(d, "runs");
        auto* show = Child<QPushButton>(d, "showOutputButton");
        table->selectRow(1);
        EXPECT_FALSE(show->isEnabled());
        table->selectRow(0);
        ASSERT_TRUE(show->isEnabled());
        ScriptNextDialog([&](QDialog& viewer) {
            auto* lines = Child<QListWidget>(viewer, "lines");
            for (int row = 0; row < lines->count(); ++row)
                shownOutput << lines->item(row)->text();
        });
        QTest::mouseClick(show, Qt::LeftButton);
    });
    history.Run();
    EXPECT_EQ(shownOutput, (QStringList{"första raden", "sista raden"}));
    EXPECT_TRUE(messenger.messages.isEmpty());
}

} // namespace
