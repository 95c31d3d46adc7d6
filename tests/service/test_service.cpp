// The built service as systemd starts it, without a display and stopped by a signal: it starts
// due rows, shares one schedule with the window program and lists it without touching it.
#include "commands/schedulecommands.h"
#include "monitordb/sqlitetransaction.h"
#include "monitordb/systemdatabase.h"
#include "support/filequery.h"
#include "support/programrun.h"
#include "support/schedulerrig.h"
#include "support/testsupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>
#include <tuple>
#include <unistd.h>

namespace {

constexpr int kFirstStartMs = 20000;
const QString kMacro = QStringLiteral("Dygnsberäkning");

// The launch arguments the simulator recorded, one start each.
QVector<QStringList> RecordedStarts(const CTestFolder& folder) {
    QVector<QStringList> starts{{}};
    for (const QString& line : folder.ReadLines(folder.File("args.txt")))
        if (line == "--")
            starts << QStringList();
        else
            starts.last() << line;
    starts.removeLast(); // not ended by "--" yet
    return starts;
}

// The service beside a new monitor database that runs the simulator, the scheduler on.
class ServiceTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::copy(KVARNIX_SERVICE, service));
        ASSERT_NO_THROW(db.OpenOrCreate());
        db.SaveRow("- - - -", KVARNIX_SIMULATOR, "- - - -", 0, 0);
        db.SetSetting("DRIFT", 1);
        folder.WriteText(model + ".vxm", "modell");
    }

    // As systemd runs it: no display and no platform named.
    QProcessEnvironment Headless() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(name);
        environment.insert("KVARNIXSIM_ARGS_FILE", folder.File("args.txt"));
        environment.insert("KVARNIXSIM_SECONDS", "1");
        return environment;
    }

    QStringList LaunchArguments(int key, int save) const {
        return {model + ".vxm",        kMacro, QString::number(key), QString::number(save),
                folder.DatabaseFile(), "1"};
    }

    CTestFolder folder;
    const QString service = folder.File("kvarnixmonitord");
    const QString model = folder.File("Pumpstation Norr åäö");
    CSystemDatabase db{folder.DatabaseFile()};
};

// A Qt library beyond QtCore would tie the service to a display it does not have.
TEST(ServiceProgram, LinksQtCoreAndNoGuiLibrary) {
    QStringList qt = RunToEnd("readelf", {"--dynamic", KVARNIX_SERVICE}).output.split('\n');
    qt = qt.filter("(NEEDED)").filter("libQt");
    EXPECT_EQ(qt.replaceInStrings(QRegularExpression(".*\\[|\\]"), ""),
              QStringList{"libQt6Core.so.6"});
}

// Each minute's starts use that minute's stored settings; stderr tells each start, nothing else.
TEST_F(ServiceTest, StartsDueRowsWithTheStoredSettingsOfEachMinuteAndEndsOnSigterm) {
    db.SetSetting("SAVE", 3);
    const int key = db.SaveRow("XXXX-XX-XX XX:XX", model, kMacro, -1, 1);
    QProcess process;
    StartProgram(process, service, Headless());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !RecordedStarts(folder).isEmpty(); }, kFirstStartMs))
        << process.readAllStandardError().toStdString();
    db.SetSetting("SAVE", 7);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return RecordedStarts(folder).last() == LaunchArguments(key, 7); }, 130000));

    EXPECT_LT(StopBySigterm(process), 2000);
    // A start in the minute of the change may still have had the old value.
    const QVector<QStringList> starts = RecordedStarts(folder);
    ASSERT_GE(starts.size(), 2);
    EXPECT_LE(starts.size(), 3);
    for (int i = 0; i + 1 < starts.size(); ++i)
        EXPECT_EQ(starts[i], LaunchArguments(key, 3)) << "start " << i;
    const QString started =
        QString("Beräkningen för rad %1 (%2   %3) har startats.").arg(key).arg(model, kMacro);
    EXPECT_EQ(QString::fromUtf8(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts),
              (QStringList{"<6>kvarnixmonitord kör schemat i " + folder.DatabaseFile() + ".",
                           "<6>Schemaläggaren är påslagen (DRIFT = 1): raderna startas när deras "
                           "starttid kommer."} +
               QStringList(int(starts.size()), "<6>" + started) +
               QStringList{"<6>kvarnixmonitord avslutas."}));
    EXPECT_EQ(folder.ReadLines(folder.LogFile()).filter(" - " + model + "   " + kMacro).size(),
              starts.size());
}

// Reads standard error as it comes and waits for a text in it.
struct CStandardError {
    explicit CStandardError(QProcess& process) : process(process) {}
    bool WaitFor(const QString& text, int ms = kFirstStartMs) {
        return QTest::qWaitFor(
            [&] {
                return (said += QString::fromUtf8(process.readAllStandardError())).contains(text);
            },
            ms);
    }
    int Count(const QString& text) {
        said += QString::fromUtf8(process.readAllStandardError());
        return int(said.count(text));
    }
    QProcess& process;
    QString said;
};

// Each fault is told once while it stands, on standard error and in the monitor log, by the
// service and by the window beside it, and once when it is over; a start that fails says why
// in Swedish, a script whose interpreter is missing too; DRIFT is told at the start and when
// it changes.
TEST_F(ServiceTest, EachFaultIsToldOnceOnEveryChannelAndDriftWhenItChanges) {
    ASSERT_TRUE(QFile::copy(KVARNIX_MONITOR, folder.ProgramFile()));
    const QString script = folder.File("beräkna");
    folder.WriteText(script, "#!/finns/inte/tolk\n");
    QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner);
    db.SaveRow("- - - -", script, "- - - -", 0, 0);
    db.SetSetting("DRIFT", 0);
    db.SaveRow("XXXX-XX-XX XX:XX", model, kMacro, -1, 1);
    db.Close();
    QProcessEnvironment windowEnvironment = Headless();
    windowEnvironment.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess process;
    QProcess window;
    StartProgram(process, service, Headless());
    CStandardError serviceSaid(process);
    ASSERT_TRUE(serviceSaid.WaitFor("Schemaläggaren är avstängd (DRIFT = 0): inga beräkningar "
                                    "startas. Slå på den i monitorns inställningar."));
    StartProgram(window, folder.ProgramFile(), windowEnvironment);
    CStandardError windowSaid(window);
    QTest::qWait(1000);

    {
        CSystemDatabase file(folder.DatabaseFile());
        file.Open();
        file.SetSetting("DRIFT", 1);
    }
    ASSERT_TRUE(serviceSaid.WaitFor("Schemaläggaren är påslagen (DRIFT = 1)", 70000));
    // Whichever program claims the minute says why the start failed, in the same words.
    const QString failed = QString("%1   %2   (kunde inte startas: tolken /finns/inte/tolk som "
                                   "skriptet %3 anger finns inte)")
                               .arg(model, kMacro, script);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return !folder.ReadLines(folder.LogFile()).filter(failed).isEmpty(); }, 70000));

    const QString saved = folder.File("sparad.mdb");
    ASSERT_TRUE(QFile::copy(folder.DatabaseFile(), saved));
    folder.WriteText(folder.DatabaseFile(), "inte en databas");
    const QString garbage = "Filen " + folder.DatabaseFile() + " är ingen monitordatabas";
    ASSERT_TRUE(serviceSaid.WaitFor(garbage));
    // Ticks, refreshes and retries of both programs meanwhile tell nothing new.
    QTest::qWait(20000);
    QFile::remove(folder.DatabaseFile());
    const QString missing = "Monitordatabasen " + folder.DatabaseFile() + " finns inte.";
    ASSERT_TRUE(serviceSaid.WaitFor(missing));
    QTest::qWait(20000);
    ASSERT_TRUE(QFile::rename(saved, folder.DatabaseFile()));
    ASSERT_TRUE(serviceSaid.WaitFor("Monitordatabasen går att använda igen."));
    QTest::qWait(4000);
    StopBySigterm(process);
    StopBySigterm(window);

    const QStringList log = folder.ReadLines(folder.LogFile());
    for (const QString& fault :
         {garbage, missing, QString("Monitordatabasen går att använda igen.")}) {
        SCOPED_TRACE(fault.toStdString());
        EXPECT_EQ(serviceSaid.Count(fault), 1);
        EXPECT_EQ(windowSaid.Count(fault), 1);
        // Once by each program.
        EXPECT_EQ(log.filter(fault).size(), 2);
    }
    EXPECT_EQ(serviceSaid.Count("Schemaläggaren är"), 2);
    EXPECT_TRUE(RecordedStarts(folder).isEmpty());
}

// The service and the window keep their files in the folder named by --mapp or KVARNIX_MAPP,
// nothing beside the program; a window started beside a running service keeps its countdowns.
TEST_F(ServiceTest, BothProgramsKeepTheirFilesInTheNamedDataFolder) {
    db.Close();
    const CTestFolder data;
    const QString dataBase = data.DatabaseFile();
    ASSERT_TRUE(QFile::copy(folder.DatabaseFile(), dataBase));
    QFile::remove(folder.DatabaseFile());
    {
        CSystemDatabase file(dataBase);
        file.Open();
        file.SaveRow("XXXX-XX-XX XX:XX", model, kMacro, -1, 1);
        file.SaveRow("24:00", model, "Dygnet", -1, 1);
    }
    QProcess process;
    StartProgram(process, service, Headless(), {"--mapp", data.Path()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !RecordedStarts(folder).isEmpty(); }, kFirstStartMs))
        << process.readAllStandardError().toStdString();
    EXPECT_EQ(RecordedStarts(folder).first().at(4), dataBase);
    EXPECT_FALSE(QFileInfo::exists(folder.DatabaseFile()));
    EXPECT_FALSE(QFileInfo::exists(folder.LogFile()));
    EXPECT_EQ(data.ReadLines(data.LogFile()).filter(" - " + model).size(), 1);
    const QString countdown = "SELECT COUNTER FROM MONITOR WHERE MAKRO = 'Dygnet'";
    const QString seeded = QueryFile(dataBase, countdown);

    ASSERT_TRUE(QFile::copy(KVARNIX_MONITOR, folder.ProgramFile()));
    QProcessEnvironment windowEnvironment = Headless();
    windowEnvironment.insert("QT_QPA_PLATFORM", "offscreen");
    windowEnvironment.insert("KVARNIX_MAPP", data.Path());
    QProcess window;
    StartProgram(window, folder.ProgramFile(), windowEnvironment);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return QueryFile(dataBase, "SELECT COUNT(*) FROM SCHEMALAGGARE") == "2"; },
        kFirstStartMs));
    EXPECT_EQ(QueryFile(dataBase, countdown), seeded);
    StopBySigterm(window);
    StopBySigterm(process);
    EXPECT_FALSE(QFileInfo::exists(folder.DatabaseFile()));
    EXPECT_FALSE(QFileInfo::exists(folder.File("MonitorLoc.loc")));
    EXPECT_EQ(QueryFile(dataBase, "SELECT COUNT(*) FROM SCHEMALAGGARE"), "0");
}

// A database the operator made read-only, and then writable again as the message asked: the
// service, run as a user who is not root, schedules again within a minute.
TEST_F(ServiceTest, AReadOnlySpellEndsWhenTheOperatorMendsTheDatabase) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run the service as the user nobody";
    db.SaveRow("XXXX-XX-XX XX:XX", model, kMacro, -1, 1);
    db.Close();
    const QByteArray owner = "nobody:nogroup";
    for (const QString& path : {folder.Path(), folder.DatabaseFile(), model + ".vxm", service})
        ASSERT_EQ(RunToEnd("chown", {owner, path}).exitCode, 0);
    QFile::setPermissions(folder.DatabaseFile(),
                          QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    QProcess process;
    StartProgram(process, "setpriv", Headless(),
                 {"--reuid=nobody", "--regid=nogroup", "--clear-groups", service});
    CStandardError said(process);
    ASSERT_TRUE(said.WaitFor("går inte att skriva i")) << said.said.toStdString();
    EXPECT_TRUE(said.said.contains("Ge monitorn skrivrätt till filen " + folder.DatabaseFile()))
        << said.said.toStdString();
    QFile::setPermissions(folder.DatabaseFile(), QFile::ReadOwner | QFile::WriteOwner |
                                                     QFile::ReadGroup | QFile::ReadOther);
    EXPECT_TRUE(said.WaitFor("Monitordatabasen går att använda igen.", 70000))
        << said.said.toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !RecordedStarts(folder).isEmpty(); }, 70000));
    StopBySigterm(process);
}

// A log the service cannot write is told once on standard error, and its end once; the
// starts go on meanwhile.
TEST_F(ServiceTest, AnUnwritableLogIsToldOnceAndWhenItIsWritableAgain) {
    db.SaveRow("XXXX-XX-XX XX:XX", model, kMacro, -1, 1);
    db.Close();
    ASSERT_TRUE(QDir().mkdir(folder.LogFile()));
    QProcess process;
    StartProgram(process, service, Headless());
    CStandardError said(process);
    const QString fault = "Monitorloggen " + folder.LogFile();
    ASSERT_TRUE(said.WaitFor(fault)) << said.said.toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !RecordedStarts(folder).isEmpty(); }, kFirstStartMs));
    QTest::qWait(7000); // refreshes and wake-ups meanwhile tell nothing new
    ASSERT_TRUE(QDir().rmdir(folder.LogFile()));
    EXPECT_TRUE(said.WaitFor("Monitorloggen går att skriva i igen.", 70000))
        << said.said.toStdString();
    StopBySigterm(process);
    EXPECT_EQ(said.Count(fault), 1);
    EXPECT_EQ(said.Count("Monitorloggen går att skriva i igen."), 1);
}

// A stop in the middle of a batch tells every start made before it, as the log has them.
TEST_F(ServiceTest, AStopInABatchTellsEveryStartItMade) {
    db.SaveRow("- - - -", "/bin/true", "- - - -", 0, 0);
    {
        CSqliteTransaction transaction(db.Connection());
        for (int row = 0; row < 1500; ++row)
            db.SaveRow("XXXX-XX-XX XX:XX", QString("/m/rad%1").arg(row, 4, 10, QChar('0')), kMacro,
                       -1, 1);
        transaction.Commit();
    }
    db.Close();
    QProcess process;
    StartProgram(process, service, Headless());
    const auto logged = [&] { return folder.ReadLines(folder.LogFile()).filter(" - /m/rad"); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return logged().size() >= 100; }, kFirstStartMs));
    StopBySigterm(process);
    const int starts = int(logged().size());
    EXPECT_LT(starts, 1500);
    const QString said = QString::fromUtf8(process.readAllStandardError());
    EXPECT_EQ(said.count(QRegularExpression("Beräkningen för rad \\d+ \\(/m/rad\\d+   .*\\) har "
                                            "startats\\.")),
              starts);
    EXPECT_TRUE(said.endsWith("kvarnixmonitord avslutas.\n")) << said.right(200).toStdString();
}

// Both schedulers race for the first minute and the two that follow; a row due every minute
// starts once in each.
TEST_F(ServiceTest, BesideTheWindowProgramEachMinuteStartsOnce) {
    ASSERT_TRUE(QFile::copy(KVARNIX_MONITOR, folder.ProgramFile()));
    db.SaveRow("XXXX-XX-XX XX:XX", model, kMacro, -1, 1);
    db.Close();
    QProcessEnvironment windowEnvironment = Headless();
    windowEnvironment.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess window;
    QProcess process;
    StartProgram(window, folder.ProgramFile(), windowEnvironment);
    StartProgram(process, service, Headless());
    const auto startLines = [&] {
        return folder.ReadLines(folder.LogFile()).filter(" - " + model);
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return !startLines().isEmpty(); }, kFirstStartMs));

    const QDateTime firstMinute = LocalTime(startLines().first().left(16));
    QTest::qWait(int(QDateTime::currentDateTime().msecsTo(firstMinute.addSecs(2 * 60 + 10))));
    StopBySigterm(process); // fails too when either ended before
    StopBySigterm(window);

    QStringList expected;
    for (int minute = 0; minute <= 2; ++minute)
        expected << firstMinute.addSecs(minute * 60).toString("yyyy-MM-dd HH:mm");
    EXPECT_EQ(startLines().replaceInStrings(QRegularExpression("^(.{16}).*"), "\\1"), expected);
    EXPECT_EQ(RecordedStarts(folder).size(), 3);
}

// Rows listed alike at any moment: one inactive but running, one never due with a stale flag.
TEST_F(ServiceTest, ListsTheScheduleAndARowsRunsAndWritesNothing) {
    const QString other = folder.File("Kvarn");
    const int stale = db.SaveRow("2001-01-01 00:00", other, "Kontroll", -1, 1);
    const int running = db.SaveRow("1-07:30", model, kMacro, -1, 0);
    db.SetSetting(QString("RUNFLAGG%1").arg(stale), 1);
    db.SetSetting(QString("CALC_TIME%1").arg(stale),
                  LocalTime("2026-11-30 17:45:10").toSecsSinceEpoch());
    CRun run;
    run.key = stale;
    for (const auto& [launched, seconds, outcome] :
         {std::tuple("2026-11-29 06:00:00", 125, CRun::Outcome::Finished),
          std::tuple("2026-11-30 17:40:00", 3600, CRun::Outcome::Aborted)}) {
        run.launched = LocalTime(launched).toSecsSinceEpoch();
        db.RecordStart(run);
        db.EndRun(stale, run.launched + seconds, outcome);
    }
    QProcess calculation;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("KVARNIXSIM_SECONDS", "60");
    StartProgram(calculation, KVARNIX_SIMULATOR, environment, LaunchArguments(running, 0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return db.IsRunFlagSet(running); }, kFirstStartMs));
    db.Close();
    const QString countNumbers = "SELECT COUNT(*) FROM SEKVENS";
    const QString numbersBefore = QueryFile(folder.DatabaseFile(), countNumbers);

    const CProgramRun listing = RunToEnd(service, {"--list"}, Headless());
    calculation.kill();
    calculation.waitForFinished();
    EXPECT_EQ(listing.exitCode, 0);
    EXPECT_EQ(listing.error, QString());

    // Only the model column's width depends on the folder.
    const auto line = [&](const QString& columns, const QString& rowModel, const QString& macro) {
        return columns + rowModel.leftJustified(model.size()) + "  " + macro;
    };
    const QStringList expected = {
        "Schemaläggaren är påslagen (DRIFT = 1).",
        line("NYCKEL  STARTTID          NÄSTA START  KVAR  SENASTE BERÄKNING    LÄGE          "
             "SENASTE KÖRNING           ",
             "MODELL", "MAKRO"),
        line(QString("%1  2001-01-01 00:00  aldrig             2026-11-30 17:45:10  flaggan kvar  "
                     "avbruten efter 1 h 0 min  ")
                 .arg(stale, 6),
             other, "Kontroll"),
        line(QString("%1  Måndag  07:30     inaktiv            Uppgift saknas       körs          "
                     "-                         ")
                 .arg(running, 6),
             model, kMacro),
    };
    EXPECT_EQ(listing.output.split('\n', Qt::SkipEmptyParts), expected);
    EXPECT_EQ(QueryFile(folder.DatabaseFile(), countNumbers), numbersBefore);

    EXPECT_EQ(
        RunToEnd(service, {"--history", QString::number(stale)}, Headless()).output.split('\n'),
        (QStringList{"START                KÖRNING  VARAKTIGHET  SLUTSTATUS  CPU  MINNE  UTFALL",
                     "2026-11-30 17:40:00        2    1 h 0 min  -             -      -  avbruten",
                     "2026-11-29 06:00:00        1    2 min 5 s  -             -      -  klar",
                     ""}));
}

// A wrong call and a file that is not the schedule are told; a listing creates no file.
TEST_F(ServiceTest, AnswersHelpWrongArgumentsAndUnusableFiles) {
    db.Close();
    // Arguments, file content (empty: no file), exit code, part of standard output and error.
    const std::tuple<QStringList, QByteArray, int, const char*, const char*> cases[] = {
        {{"--help"}, "", 0, "Användning: kvarnixmonitord [--mapp MAPP] [--list | --history", ""},
        {{"--history", "tre"},
         "",
         2,
         "",
         "--history kräver ett radnummer, till exempel --history 12 (\"tre\" är inget positivt"},
        {{"--history"}, "", 2, "", "--history kräver ett radnummer, till exempel --history 12\n"},
        {{"-h"}, "", 0, "kvarnixmonitor.mdb  monitordatabasen", ""},
        {{"--version"}, "", 0, "kvarnixmonitord 2.0\n", ""},
        {{"--lista"}, "", 2, "", "Okänt alternativ: lista"},
        {{"--list", "extra"}, "", 2, "", "Okänt argument: extra"},
        {{"--list", "--history", "4"},
         "",
         2,
         "",
         "Ange bara ett av --list, --history, --output, --cancel, --status"},
        {{"--list"}, "", 1, "", "finns inte"},
        {{"--list"}, "inte en databas", 1, "", "är ingen monitordatabas"},
        {{}, "inte en databas", 1, "", "är ingen monitordatabas"},
    };
    for (const auto& [arguments, fileContent, exitCode, output, error] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        QFile::remove(folder.DatabaseFile());
        if (!fileContent.isEmpty())
            folder.WriteText(folder.DatabaseFile(), fileContent);
        const CProgramRun run = RunToEnd(service, arguments, Headless());
        EXPECT_EQ(run.exitCode, exitCode);
        EXPECT_TRUE(run.output.contains(QString::fromUtf8(output))) << run.output.toStdString();
        EXPECT_TRUE(run.error.contains(QString::fromUtf8(error))) << run.error.toStdString();
        EXPECT_EQ(QFileInfo::exists(folder.DatabaseFile()), !fileContent.isEmpty());
    }
}

// From a shell on any host that shares the file: a run is cancelled by its row, and what a
// run wrote is printed by its number.
TEST_F(ServiceTest, CancelsARunAndPrintsARunsOutput) {
    const int key = db.SaveRow("XXXX-XX-XX XX:XX", model, kMacro, -1, 0);
    const CSystemClock clock;
    CSchedulerRig monitor{folder.ProgramFile(), clock};
    qputenv("KVARNIXSIM_SECONDS", "600");
    qputenv("KVARNIXSIM_OUTPUT_BYTES", "40");
    monitor.scheduler.RunNow(key, [](const CLaunchReport&) {});
    qunsetenv("KVARNIXSIM_SECONDS");
    qunsetenv("KVARNIXSIM_OUTPUT_BYTES");
    // Started, and far enough to have raised its run flag.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return db.LatestRun(key)->supervisor > 0 && db.IsRunFlagSet(key); }, 10000));
    const CRun run = *db.LatestRun(key);

    const CProgramRun cancel = RunToEnd(service, {"--cancel", QString::number(key)}, Headless());
    EXPECT_EQ(cancel.exitCode, 0) << cancel.error.toStdString();
    const QString who = CScheduleCommands::Requester();
    EXPECT_EQ(cancel.output,
              QString("Körningen av rad %1 avbryts (begärt av %2).\n").arg(key).arg(who));
    const bool ended = QTest::qWaitFor([&] { return db.LatestRun(key)->ended.has_value(); }, 10000);
    if (!ended)
        ::kill(pid_t(run.processId), SIGKILL);
    ASSERT_TRUE(ended);
    EXPECT_EQ(db.LatestRun(key)->cancelledBy, who);
    const CProgramRun again = RunToEnd(service, {"--cancel", QString::number(key)}, Headless());
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_EQ(again.error,
              QString("Rad %1 har ingen pågående körning som kan avbrytas.\n").arg(key));

    const CProgramRun output = RunToEnd(service, {"--output", QString::number(run.id)}, Headless());
    EXPECT_EQ(output.exitCode, 0) << output.error.toStdString();
    EXPECT_EQ(output.output, "000000001 utdata\n000000002 utdata\n000000kvarnixsim: standard "
                             "error\n");
    const CProgramRun missing =
        RunToEnd(service, {"--output", QString::number(run.id + 7)}, Headless());
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.error, QString("Körningen %1 finns inte.\n").arg(run.id + 7));
    const CProgramRun history = RunToEnd(service, {"--history", QString::number(key)}, Headless());
    ASSERT_EQ(history.output.split('\n').size(), 3) << history.output.toStdString();
    const QRegularExpression cancelled(
        QString("^[-0-9: ]+ +%1 +[0-9]+,[0-9] s  signal 15 +[0-9]+,[0-9] s +[0-9]+(,[0-9])? "
                "[KM]iB  avbröts av %2; beräkningsflaggan återställdes$")
            .arg(run.id)
            .arg(QRegularExpression::escape(who)));
    EXPECT_TRUE(cancelled.match(history.output.split('\n')[1]).hasMatch())
        << history.output.toStdString();
    for (const char* option : {"--cancel", "--output"}) {
        const CProgramRun mistake = RunToEnd(service, {option, "tre"}, Headless());
        EXPECT_EQ(mistake.exitCode, 2);
        EXPECT_TRUE(mistake.error.startsWith(QString(option) + " kräver ett")) << option;
    }
}

} // namespace
