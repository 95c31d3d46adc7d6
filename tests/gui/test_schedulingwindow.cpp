// The window with its scheduler: what the tick meets reaches the status bar, never a box.
#include "dialogs/dlgkorhistorik.h"
#include "gui/guisupport.h"
#include "history/runhistorymodel.h"
#include "mainwindow/mainstatusbar.h"
#include "monitordb/sqliteconnection.h"

#include <QElapsedTimer>
#include <QTableView>

namespace {

struct SchedulingWindowTest : MainWindowTest {
    void SetUp() override {
        ASSERT_NO_THROW(db.OpenOrCreate());
        db.SaveRow("- - - -", "/bin/true", "- - - -", 0, 0);
        db.SetSetting("DRIFT", 1);
    }
    // Until the first tick has claimed the clock's minute.
    void Start() {
        MainWindowTest::Start();
        ASSERT_TRUE(QTest::qWaitFor([&] {
            CSystemDatabase file(folder.DatabaseFile());
            file.Open();
            return file.ReadMinuteClaim().has_value();
        }));
    }
    QString StatusText() const { return frame.StatusBar()->IdleText(); }
    int LogLinesWith(const QString& text) const {
        return int(folder.ReadLines(folder.LogFile()).filter(text).size());
    }
};

// A failure inside the tick shows in the status bar, no box waits, and the file stays writable.
TEST_F(SchedulingWindowTest, AFailureInsideTheTickIsShownWithoutABoxOrALock) {
    db.SaveRow("00:05", "/m/cyklisk", "Makro", -1, 1);
    db.SaveRow("XXXX-XX-XX XX:XX", "/m/varje", "Makro", -1, 1);
    // The start's spreading of the countdowns still goes through; the tick's steps do not.
    db.Connection().Execute("CREATE TRIGGER nej BEFORE UPDATE OF COUNTER ON MONITOR "
                            "WHEN OLD.COUNTER IS NOT NULL BEGIN SELECT RAISE(ABORT, 'låst'); END");
    MainWindowTest::Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return StatusText().contains("låst"); }, 10000))
        << StatusText().toStdString();
    EXPECT_EQ(StatusText(), "Monitordatabasen " + folder.DatabaseFile() +
                                " kan inte användas (låst). Inga beräkningar startas förrän "
                                "felet är åtgärdat.");
    EXPECT_EQ(LogLinesWith("/m/varje   Makro"), 0);
    EXPECT_TRUE(messenger.messages.isEmpty()) << messenger.messages.join('\n').toStdString();
    CSqliteConnection other;
    other.Open(folder.DatabaseFile(), CSqliteConnection::OpenMode::ExistingFile, 0);
    other.Execute("BEGIN IMMEDIATE");
    other.Execute("COMMIT");
}

// What the window shows of the settings follows the file, whoever changed it; a switch stored
// beyond 32 bits stays on through the settings dialog.
TEST_F(SchedulingWindowTest, TheShownSettingsFollowTheFile) {
    db.SetSetting("DRIFT", 4294967296);
    db.SetSetting("SAVE", 4294967296);
    Start();
    ScriptNextDialog([](QDialog& d) { ClickChild(d, "cancelButton"); });
    View().MenuCommands().settings->trigger();
    EXPECT_NE(settings.schedulerOn, 0);
    EXPECT_NE(settings.mayWriteIp21, 0);
    EXPECT_EQ(CMainStatusBar::ProgramPane(settings).text, "true");

    db.SetSetting("DRIFT", 0);
    db.SetSetting("SAVE", 0);
    db.SaveRow("- - - -", "/opt/kvarnix/Kvarnix.exe", "- - - -", 0, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return settings.schedulerOn == 0; }, 10000));
    EXPECT_EQ(CMainStatusBar::ProgramPane(settings).text, "Avstängd");
    EXPECT_EQ(CMainStatusBar::PermissionPane(settings).text,
              "Ger inte tillstånd att skriva i IP21-databasen");
    db.SetSetting("DRIFT", 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return settings.schedulerOn != 0; }, 10000));
    EXPECT_EQ(CMainStatusBar::ProgramPane(settings).text, "Kvarnix.exe");
}

// A garbage file, then none, is reported once each and not recreated; the window keeps answering.
TEST_F(SchedulingWindowTest, AnUnusableFileIsReportedOnceAndTheWindowKeepsAnswering) {
    db.SaveRow("00:05", "/m/forsta", "Makro", -1, 0);
    db.SaveRow("00:07", "/m/andra", "Makro", -1, 0);
    db.Close();
    Start();
    ASSERT_EQ(View().Lines().LineCount(), 2);
    const QString saved = folder.File("sparad.mdb");
    ASSERT_TRUE(QFile::copy(folder.DatabaseFile(), saved));
    QStringList reports;
    QObject::connect(frame.View(), &CMainView::StatusTextChanged,
                     [&](const QString& text) { reports << text; });
    // The longest time the window's event loop went without running a 10 ms timer.
    qint64 longestMs = 0;
    QElapsedTimer since;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { longestMs = std::max(longestMs, since.restart()); });
    since.start();
    tick.start(10);

    QFile::remove(folder.DatabaseFile());
    folder.WriteText(folder.DatabaseFile(), "ingen databas");
    ASSERT_TRUE(QTest::qWaitFor([&] { return View().Lines().LineCount() == 0; }, 10000));
    EXPECT_TRUE(StatusText().contains("är ingen monitordatabas")) << StatusText().toStdString();
    QTest::qWait(3500);
    QFile::remove(folder.DatabaseFile());
    ASSERT_TRUE(QTest::qWaitFor([&] { return StatusText().contains("finns inte"); }, 10000));
    QTest::qWait(3500);
    EXPECT_FALSE(QFile::exists(folder.DatabaseFile()));
    EXPECT_EQ(LogLinesWith("är ingen monitordatabas"), 1);
    EXPECT_EQ(LogLinesWith("finns inte"), 1);

    ASSERT_TRUE(QFile::rename(saved, folder.DatabaseFile()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return View().Lines().LineCount() == 2; }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return StatusText() == "Klar"; }, 10000));
    EXPECT_EQ(reports.filter("är ingen monitordatabas").size(), 1);
    EXPECT_EQ(reports.filter("finns inte").size(), 1);
    EXPECT_LT(longestMs, 500);
    EXPECT_TRUE(messenger.messages.isEmpty()) << messenger.messages.join('\n').toStdString();
}

// "Kör nu" starts an inactive row, leaving its time, countdown and flag; a running one is refused.
TEST_F(SchedulingWindowTest, RunNowStartsARowAtOnceUnlessItRuns) {
    const QString argsFile = folder.File("args.txt");
    qputenv("KVARNIXSIM_ARGS_FILE", argsFile.toUtf8());
    qputenv("KVARNIXSIM_SECONDS", "0");
    db.SaveRow("- - - -", KVARNIX_SIMULATOR, "- - - -", 0, 0);
    db.SetSetting("SAVE", 5);
    const QString model = folder.File("Kvarn Väst");
    const int inactive = db.SaveRow("2031-05-17 04:44", model, "Natt", -1, 0);
    const int running = db.SaveRow("00:10", "/m/igang", "Dygn", -1, 1);
    db.SetCounter(inactive, 13);
    db.SetSetting(QString("RUNFLAGG%1").arg(running), 1);
    Start();
    messenger.answers = {false, true, true};
    RunContextCommand(0, "Kör nu");
    EXPECT_EQ(messenger.questions, QStringList{"Vill du starta beräkningen för " + model + " nu?"});
    RunContextCommand(0, "Kör nu");
    ASSERT_TRUE(QTest::qWaitFor([&] { return folder.ReadLines(argsFile).size() >= 7; }, 10000));
    EXPECT_EQ(folder.ReadLines(argsFile),
              (QStringList{model + ".vxm", "Natt", QString::number(inactive), "5",
                           folder.DatabaseFile(), "1", "--"}));
    // The calculation may write its arguments before the monitor has logged its start.
    EXPECT_TRUE(QTest::qWaitFor([&] { return LogLinesWith(" - " + model + "   Natt") > 0; }));
    EXPECT_EQ(LogLinesWith(" - " + model + "   Natt"), 1);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return db.GetTime(StoredTime::Calculation, inactive) != 0; }));
    EXPECT_EQ(StoredRow(db, inactive), (QStringList{"2031-05-17 04:44", model, "Natt", "0"}));
    EXPECT_EQ(db.GetCounter(inactive), 13);

    RunContextCommand(1, "Kör nu");
    EXPECT_EQ(messenger.messages,
              QStringList{"Beräkningen för /m/igang körs redan och kan inte startas nu."});
    EXPECT_EQ(messenger.questions.size(), 2);
    qunsetenv("KVARNIXSIM_ARGS_FILE");
    qunsetenv("KVARNIXSIM_SECONDS");
}

// Over a page of runs, newest first; the spread counts only this row's last 30 finished ones.
TEST_F(SchedulingWindowTest, TheHistoryShowsARowsRunsNewestFirstWithTheirSpread) {
    const int key = db.SaveRow("00:05", "/m/Pump", "Dygn", -1, 0);
    const int other = db.SaveRow("00:05", "/m/Kvarn", "Dygn", -1, 0);
    const int single = db.SaveRow("00:07", "/m/Kross", "Timme", -1, 0);
    const qint64 start = LocalTime("2026-12-01 06:00").toSecsSinceEpoch();
    // Run number n of row, ended after seconds unless it runs or could not start.
    const auto record = [&](int row, qint64 n, CRun::Outcome outcome, qint64 seconds = 0) {
        CRun run{row, {}, {}, start + n * 600, {}, {}, outcome, "programmet finns inte"};
        if (outcome != CRun::Outcome::NotStarted)
            run.outcome = CRun::Outcome::Running;
        db.RecordStart(run);
        if (run.outcome != outcome)
            db.EndRun(row, run.launched + seconds, outcome);
    };
    // 240 runs of 10 minutes, 30 of 60 + 2i seconds, an aborted, a failed and a running one.
    for (int i = 0; i < 270; ++i)
        record(key, i, CRun::Outcome::Finished, i < 240 ? 600 : 60 + 2 * (i - 240));
    record(key, 271, CRun::Outcome::Aborted, 5);
    record(key, 272, CRun::Outcome::NotStarted);
    record(key, 273, CRun::Outcome::Running);
    for (int i = 0; i < 400; ++i)
        record(other, i, CRun::Outcome::Finished, 1);
    record(single, 3, CRun::Outcome::Finished, 45);

    const CScheduleCommands schedule(folder.DatabaseFile());
    CDlgKorhistorik history(schedule, key, "/m/Pump", messenger);
    ScriptNextDialog([&](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), "Körhistorik - /m/Pump");
        const QAbstractItemModel& runs = history.Runs();
        const auto line = [&](int row) {
            return QStringList{runs.index(row, 0).data().toString(),
                               runs.index(row, 1).data().toString(),
                               runs.index(row, CRunHistoryModel::Outcome).data().toString()};
        };
        const auto at = [&](int run) { return TimeText(start + run * 600); };
        EXPECT_EQ(line(0), (QStringList{at(273), "pågår", "pågår"}));
        EXPECT_EQ(line(1),
                  (QStringList{at(272), "-", "kunde inte startas: programmet finns inte"}));
        EXPECT_EQ(line(2), (QStringList{at(271), "5 s", "avbruten"}));
        EXPECT_EQ(line(3), (QStringList{at(269), "1 min 58 s", "klar"}));
        Child<QTableView>(d, "runs")->scrollToBottom();
        EXPECT_EQ(runs.rowCount(), 273);
        EXPECT_EQ(line(272), (QStringList{at(0), "10 min 0 s", "klar"}));
    });
    history.Run();
    EXPECT_EQ(history.StatisticsText(), "De senaste 30 avslutade körningarna: längst 1 min 58 s, "
                                        "kortast 1 min 0 s, median 1 min 29 s.");
    // A single finished run has no spread.
    CDlgKorhistorik once(schedule, single, "/m/Kross", messenger);
    ScriptNextDialog([](QDialog&) {});
    once.Run();
    EXPECT_EQ(once.StatisticsText(), "Den senaste avslutade körningen tog 45 s.");
    EXPECT_TRUE(messenger.messages.isEmpty());
}

} // namespace
