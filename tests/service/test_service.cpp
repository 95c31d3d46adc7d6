// The built service as systemd starts it, without a display and stopped by a signal: it starts
// due rows, shares one schedule with the window program and lists it without touching it.
#include "monitordb/systemdatabase.h"
#include "support/filequery.h"
#include "support/programrun.h"
#include "support/testsupport.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <gtest/gtest.h>
#include <tuple>

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
              (QStringList{"kvarnixmonitord kör schemat i " + folder.DatabaseFile() + ".",
                           "Schemaläggaren är påslagen (DRIFT = 1): raderna startas när deras "
                           "starttid kommer."} +
               QStringList(int(starts.size()), started) +
               QStringList{"kvarnixmonitord avslutas."}));
    EXPECT_EQ(folder.ReadLines(folder.LogFile()).filter(" - " + model + "   " + kMacro).size(),
              starts.size());
}

// A start that fails and a file that stops being a database are told, one line each.
TEST_F(ServiceTest, TellsAFailedStartAndAnUnusableFileOnStandardError) {
    const QString missing = folder.File("Kvarnix saknas");
    db.SaveRow("- - - -", missing, "- - - -", 0, 0);
    const int key = db.SaveRow("XXXX-XX-XX XX:XX", model, kMacro, -1, 1);
    db.Close();
    QProcess process;
    StartProgram(process, service, Headless());
    QString said;
    const auto expectSaid = [&](const QString& text) {
        const auto heard = [&] { return (said += process.readAllStandardError()).contains(text); };
        EXPECT_TRUE(QTest::qWaitFor(heard, kFirstStartMs)) << said.toStdString();
    };
    expectSaid(QString("Beräkningen för rad %1 (%2   %3) kunde inte startas: programmet %4 "
                       "finns inte")
                   .arg(key)
                   .arg(model, kMacro, missing));
    folder.WriteText(folder.DatabaseFile(), "inte en databas");
    expectSaid("Filen " + folder.DatabaseFile() + " är ingen monitordatabas");
    StopBySigterm(process);
    EXPECT_TRUE(RecordedStarts(folder).isEmpty());
}

// Both schedulers race for every minute of three; a row due every minute starts once in each.
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
    QTest::qWait(int(QDateTime::currentDateTime().msecsTo(firstMinute.addSecs(3 * 60 + 10))));
    StopBySigterm(process); // fails too when either ended before
    StopBySigterm(window);

    QStringList expected;
    for (int minute = 0; minute <= 3; ++minute)
        expected << firstMinute.addSecs(minute * 60).toString("yyyy-MM-dd HH:mm");
    EXPECT_EQ(startLines().replaceInStrings(QRegularExpression("^(.{16}).*"), "\\1"), expected);
    EXPECT_EQ(RecordedStarts(folder).size(), 4);
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
        (QStringList{"START                VARAKTIGHET  UTFALL",
                     "2026-11-30 17:40:00    1 h 0 min  avbruten",
                     "2026-11-29 06:00:00    2 min 5 s  klar", ""}));
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
         "--history kräver ett radnummer, till exempel --history 12 (\"tre\" är inget"},
        {{"--history"}, "", 2, "", "--history kräver ett radnummer, till exempel --history 12\n"},
        {{"-h"}, "", 0, "kvarnixmonitor.mdb  monitordatabasen", ""},
        {{"--version"}, "", 0, "kvarnixmonitord 2.0\n", ""},
        {{"--lista"}, "", 2, "", "Okänt alternativ: lista"},
        {{"--list", "extra"}, "", 2, "", "Okänt argument: extra"},
        {{"--list", "--history", "4"}, "", 2, "", "Ange bara ett av --list, --history"},
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

} // namespace
