// The display refresh on real files and real calculations of the simulator.
#include "files/programpaths.h"
#include "history/runhistory.h"
#include "log/monitorlog.h"
#include "monitordb/systemdatabase.h"
#include "schedule/calculationlauncher.h"
#include "schedule/calculationprocesses.h"
#include "schedule/problemreporter.h"
#include "schedule/runstatereader.h"
#include "settings/monitorsettings.h"
#include "support/filequery.h"
#include "support/launching.h"
#include "support/testsupport.h"

#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace {

// The real clock a few seconds ahead: a second reader whose writes would show.
class CAheadClock : public CClock {
public:
    QDateTime Now() const override { return QDateTime::currentDateTime().addSecs(7); }
};

class RunStatesTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_NO_THROW(db.OpenOrCreate()); }

    static CRunStates Read(CRunStateReader& reader) {
        const std::optional<CRunStates> states = reader.Read();
        EXPECT_TRUE(states.has_value());
        return states.value_or(CRunStates());
    }
    static std::pair<bool, bool> RunningAndStale(const CRunStates& states, int key) {
        return {states.byKey.value(key).running, states.byKey.value(key).stale};
    }
    QStringList LogLines(const QString& containing) const {
        return folder.ReadLines(folder.LogFile()).filter(containing);
    }

    CTestFolder folder;
    CSystemDatabase db{folder.DatabaseFile()};
    CProgramPaths paths{folder.ProgramFile()};
    CFakeClock clock{LocalTime("2026-12-07 10:00")};
    CMonitorLog log{paths.MonitorLog(), paths.TrimFile()};
    CProblemReporter problems{log, clock};
    CCalculationProcesses processes{paths.MonitorDatabase()};
    std::atomic<bool> stop{false};
    CRunStateReader reader{paths.MonitorDatabase(),
                           QSysInfo::machineHostName(),
                           clock,
                           processes,
                           log,
                           problems,
                           stop};
};

// A file put in the database's place is read anew; an unreadable one is reported once.
TEST_F(RunStatesTest, TheListFollowsTheFileThatIsThere) {
    db.SaveRow("00:05", "/m/forsta", "Makro", -1, 1);
    db.Close();
    EXPECT_FALSE(Read(reader).reloadedRows.has_value());

    const QString other = folder.File("annan.mdb");
    {
        CSystemDatabase replacement(other);
        ASSERT_NO_THROW(replacement.OpenOrCreate());
        replacement.SaveRow("00:07", "/m/andra", "Makro", -1, 0);
        replacement.SaveRow("00:09", "/m/tredje", "Makro", -1, 1);
    }
    const QString kept = folder.File("forsta.mdb");
    ASSERT_TRUE(QFile::rename(folder.DatabaseFile(), kept));
    ASSERT_TRUE(QFile::rename(other, folder.DatabaseFile()));
    CRunStates states = Read(reader);
    ASSERT_TRUE(states.reloadedRows.has_value());
    ASSERT_EQ(states.reloadedRows->size(), 2);
    EXPECT_EQ(states.reloadedRows->at(1).model, "/m/tredje");
    EXPECT_EQ(LogLines("har bytts ut").size(), 1);

    QFile::remove(folder.DatabaseFile());
    folder.WriteText(folder.DatabaseFile(), "skräp");
    states = reader.Read().value();
    EXPECT_TRUE(states.reloadedRows.has_value() && states.reloadedRows->isEmpty());
    EXPECT_FALSE(reader.Read().has_value());
    EXPECT_TRUE(problems.Current().contains("är ingen monitordatabas"));
    EXPECT_EQ(LogLines("är ingen monitordatabas").size(), 1);

    QFile::remove(folder.DatabaseFile());
    ASSERT_TRUE(QFile::rename(kept, folder.DatabaseFile()));
    states = Read(reader);
    ASSERT_TRUE(states.reloadedRows.has_value());
    ASSERT_EQ(states.reloadedRows->size(), 1);
    EXPECT_EQ(states.reloadedRows->first().model, "/m/forsta");
    EXPECT_EQ(problems.Current(), "");
}

// Two readers (window and service) look on while each run's supervisor records its end: the
// refresh ends none of them. A calculation killed with its flag set has the flag cleared by its
// supervisor and its line marked until a run ends well; a flag nobody holds is stale, logged
// once by each reader; runs without a supervisor still end by their flag; closed runs and their
// output go with the PID records.
TEST_F(RunStatesTest, EveryRunIsRecordedByItsSupervisorAndAStaleFlagIsShown) {
    const CSystemClock realClock;
    const CAheadClock ahead;
    CRunStateReader first{paths.MonitorDatabase(),
                          QSysInfo::machineHostName(),
                          realClock,
                          processes,
                          log,
                          problems,
                          stop};
    CRunStateReader second{paths.MonitorDatabase(),
                           QSysInfo::machineHostName(),
                           ahead,
                           processes,
                           log,
                           problems,
                           stop};
    CSchedulerPeers peers(false);
    CCalculationLauncher launcher(paths, realClock, log, processes, peers);
    const auto row = [&](const QString& name, const char* macro) {
        const QString model = folder.File(name);
        folder.WriteText(model + ".vxm", "modell");
        return CScheduleRow{
            db.SaveRow("00:05", model, macro, -1, 1), "00:05", model, macro, true, 0};
    };
    const CScheduleRow whole = row("Pump", "Dygn"), killed = row("Kvarn", "Timme"),
                       quick = row("Snabb", "Minut"), missing = row("Saknas", "Kvart"),
                       orphan = row("Ensam", "Natt");
    db.SetSetting(QString("RUNFLAGG%1").arg(orphan.key), 1);
    db.SetSetting(QString("CALC_TIME%1").arg(orphan.key), 1765098000);
    CMonitorSettings settings;
    settings.mayWriteIp21 = 1;
    const auto launch = [&](const CScheduleRow& r, const char* seconds, const QString& program) {
        qputenv("KVARNIXSIM_SECONDS", seconds);
        settings.programPath = program;
        return LaunchRow(db, launcher, peers, r, settings);
    };
    const auto latest = [&](const CScheduleRow& r) { return db.LatestRun(r.key).value_or(CRun()); };
    const auto readBoth = [&] {
        Read(first);
        Read(second);
    };

    launch(quick, "0", "/bin/true");
    launch(whole, "2", KVARNIX_SIMULATOR);
    launch(killed, "120", KVARNIX_SIMULATOR);
    EXPECT_FALSE(launch(missing, "0", folder.File("finns-inte")).started);
    qunsetenv("KVARNIXSIM_SECONDS");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            readBoth();
            return db.IsRunFlagSet(killed.key) && latest(killed).processId != 0 &&
                   latest(whole).ended && latest(quick).ended;
        },
        15000));
    CRunStates states = Read(first);
    EXPECT_EQ(RunningAndStale(states, killed.key), std::pair(true, false));
    EXPECT_TRUE(states.byKey.value(killed.key).cancellable);
    EXPECT_FALSE(states.byKey.value(whole.key).cancellable);
    EXPECT_EQ(RunningAndStale(states, orphan.key), std::pair(true, true));
    EXPECT_EQ(states.byKey.value(orphan.key).calcSeconds, 1765098000);
    EXPECT_EQ(LogLines(orphan.model + "   Natt   (beräkningsflaggan är satt").size(), 2);
    EXPECT_EQ(latest(killed).outcome, CRun::Outcome::Running);

    ::kill(pid_t(latest(killed).processId), SIGKILL);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            readBoth();
            return latest(killed).ended.has_value();
        },
        15000));
    states = Read(first);
    EXPECT_EQ(RunningAndStale(states, killed.key), std::pair(false, false));
    EXPECT_FALSE(db.IsRunFlagSet(killed.key));
    EXPECT_FALSE(states.byKey.value(killed.key).cancellable);
    EXPECT_EQ(states.byKey.value(killed.key).clearedFlagEnd,
              "avslutades av signal 9 (SIGKILL); beräkningsflaggan återställdes");
    EXPECT_EQ(states.byKey.value(whole.key).clearedFlagEnd, "");
    EXPECT_TRUE(LogLines(killed.model + "   Timme   (beräkningsflaggan").isEmpty());

    const CRun ended = latest(whole);
    EXPECT_EQ(ended.outcome, CRun::Outcome::Finished);
    EXPECT_EQ(ended.exitCode, 0);
    ASSERT_TRUE(ended.startMs && ended.endMs && ended.DurationMs());
    EXPECT_GE(*ended.DurationMs(), 2000);
    EXPECT_LT(*ended.DurationMs(), 20000);
    EXPECT_EQ(ended.seenRunning, *ended.startMs / 1000);
    EXPECT_EQ(ended.ended, *ended.endMs / 1000);
    EXPECT_GT(ended.peakMemoryKb.value_or(0), 1000);
    EXPECT_TRUE(ended.cpuMs.has_value());
    EXPECT_EQ(latest(killed).outcome, CRun::Outcome::Signalled);
    EXPECT_EQ(latest(killed).signal, SIGKILL);
    EXPECT_FALSE(latest(killed).exitCode.has_value());
    EXPECT_TRUE(latest(killed).flagCleared);
    EXPECT_EQ(latest(quick).outcome, CRun::Outcome::Finished);
    EXPECT_FALSE(latest(quick).flagCleared);
    EXPECT_EQ(latest(missing).outcome, CRun::Outcome::NotStarted);
    EXPECT_FALSE(latest(missing).DurationMs().has_value());
    EXPECT_EQ(RunHistory::OutcomeText(latest(missing)),
              "kunde inte startas: programmet " + folder.File("finns-inte") + " finns inte");
    for (const CScheduleRow& r : {whole, killed, quick, missing})
        EXPECT_EQ(db.Runs(r.key, 0, 10).size(), 1) << r.model.toStdString();

    // A run that ends well takes the mark away.
    qputenv("KVARNIXSIM_SECONDS", "0");
    launch(killed, "0", KVARNIX_SIMULATOR);
    qunsetenv("KVARNIXSIM_SECONDS");
    ASSERT_TRUE(QTest::qWaitFor([&] { return latest(killed).ended.has_value(); }, 15000));
    EXPECT_EQ(latest(killed).outcome, CRun::Outcome::Finished);
    EXPECT_EQ(Read(first).byKey.value(killed.key).clearedFlagEnd, "");

    // A run without a supervisor, as an older monitor recorded one, ends by its flag alone:
    // five silent minutes on, the tick's look calls it never started.
    CRun older;
    older.key = orphan.key;
    older.launched = QDateTime::currentSecsSinceEpoch();
    db.RecordStart(older);
    db.ResetRunFlags({orphan.key});
    db.EndQuietRuns(QDateTime::currentSecsSinceEpoch() + 299);
    EXPECT_EQ(latest(orphan).outcome, CRun::Outcome::Running);
    db.EndQuietRuns(QDateTime::currentSecsSinceEpoch() + 301);
    EXPECT_EQ(latest(orphan).outcome, CRun::Outcome::NeverStarted);
    EXPECT_FALSE(latest(orphan).DurationMs().has_value());

    const QString output = latest(whole).outputPath;
    EXPECT_EQ(output, paths.OutputFile(latest(whole).id));
    EXPECT_TRUE(QFile::exists(output));
    CRun open;
    open.key = whole.key;
    open.launched = QDateTime::currentSecsSinceEpoch() - 20 * 86400;
    db.RecordStart(open);
    db.PurgePid(QDateTime::currentDateTime().addDays(11), 10);
    EXPECT_EQ(db.Runs(whole.key, 0, 10).size(), 1);
    EXPECT_FALSE(db.LatestRun(whole.key)->ended.has_value());
    EXPECT_FALSE(db.LatestRun(killed.key).has_value());
    EXPECT_FALSE(QFile::exists(output));
    EXPECT_TRUE(QFile::exists(paths.OutputFolder()));
}

} // namespace

namespace {

// A run started on another host is left open there, shown as running on that host; the host
// that started it finds the flag stale and ends the run.
TEST_F(RunStatesTest, OnlyTheHostThatStartedARunJudgesItStale) {
    const int key = db.SaveRow("00:05", "/m/Pump", "Dygn", -1, 1);
    CRun run;
    run.key = key;
    run.model = "/m/Pump";
    run.macro = "Dygn";
    run.launched = clock.Now().toSecsSinceEpoch();
    run.host = "värd-a";
    db.RecordStart(run);
    db.SetSetting(QString("RUNFLAGG%1").arg(key), 1);

    CRunStateReader onOtherHost{
        paths.MonitorDatabase(), "värd-b", clock, processes, log, problems, stop};
    const CRunStates seen = Read(onOtherHost);
    EXPECT_EQ(RunningAndStale(seen, key), std::pair(true, false));
    EXPECT_EQ(seen.byKey.value(key).elsewhere, "värd-a");
    EXPECT_TRUE(seen.notices.isEmpty());
    EXPECT_EQ(db.LatestRun(key)->outcome, CRun::Outcome::Running);

    CRunStateReader onItsHost{
        paths.MonitorDatabase(), "värd-a", clock, processes, log, problems, stop};
    const CRunStates judged = Read(onItsHost);
    EXPECT_EQ(RunningAndStale(judged, key), std::pair(true, true));
    EXPECT_EQ(judged.byKey.value(key).elsewhere, "");
    EXPECT_EQ(judged.notices,
              QStringList{QString("Rad %1: /m/Pump   Dygn   (beräkningsflaggan är satt men ingen "
                                  "beräkning för raden körs på den här datorn)")
                              .arg(key)});
    EXPECT_EQ(db.LatestRun(key)->outcome, CRun::Outcome::Aborted);
    EXPECT_TRUE(Read(onItsHost).notices.isEmpty());
}

} // namespace

namespace {

// A calculation started by another monitor on this host is known by its launch arguments: the
// row key two places after the model file, the database two after that. A zombie is no
// calculation.
TEST_F(RunStatesTest, ACalculationIsKnownByItsLaunchArgumentsAndAZombieIsNone) {
    const int running = db.SaveRow("00:05", "/m/igang", "Dygn", -1, 1);
    const int stale = db.SaveRow("00:05", "/m/kvar", "Dygn", -1, 1);
    const int other = db.SaveRow("00:05", "/m/annan", "Dygn", -1, 1);
    for (const int key : {running, stale, other})
        db.SetSetting(QString("RUNFLAGG%1").arg(key), 1);
    // One process carries this database's launch arguments for one row, another those of a
    // row of another database.
    QProcess calculation;
    calculation.start("sh", {"-c", "sleep 30", "/m/igang.vxm", "Dygn", QString::number(running),
                             "0", paths.MonitorDatabase(), "1"});
    QProcess elsewhere;
    elsewhere.start("sh", {"-c", "sleep 30", "/m/annan.vxm", "Dygn", QString::number(other), "0",
                           folder.File("annan.mdb"), "1"});
    ASSERT_TRUE(calculation.waitForStarted() && elsewhere.waitForStarted());
    const QVector<CScheduleRow> rows = db.LoadAllRows();
    const QSet<int> found = processes.StaleFlags(db, rows, [](int) { return true; });
    calculation.kill();
    elsewhere.kill();
    calculation.waitForFinished();
    elsewhere.waitForFinished();
    EXPECT_EQ(found, (QSet<int>{stale, other}));

    const pid_t zombie = ::fork();
    if (zombie == 0)
        ::_exit(0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return FileBytes(QString("/proc/%1/stat").arg(zombie)).contains(") Z "); }));
    EXPECT_FALSE(CCalculationProcesses::IsAlive(zombie));
    EXPECT_TRUE(CCalculationProcesses::IsAlive(::getpid()));
    ::waitpid(zombie, nullptr, 0);
    EXPECT_FALSE(CCalculationProcesses::IsAlive(zombie));
}

} // namespace
