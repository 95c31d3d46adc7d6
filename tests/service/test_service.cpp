// The built service, started as systemd starts it: in a folder of its own, without a display,
// stopped by a signal. It starts due rows through the calculation simulator, shares one
// schedule with the window program and lists the schedule without touching it.
#include "monitordb/sqliteconnection.h"
#include "monitordb/systemdatabase.h"
#include "support/testsupport.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

namespace {

constexpr int kStopLimitMs = 2000;
constexpr int kFirstStartMs = 20000;
constexpr int kProcessMs = 20000;
const QString kMacro = QStringLiteral("Dygnsberäkning");

// The launch arguments the simulator recorded, one start each.
QVector<QStringList> RecordedStarts(const CTestFolder& folder) {
    QVector<QStringList> starts;
    QStringList current;
    for (const QString& line : folder.ReadLines(folder.File("args.txt"))) {
        if (line != "--") {
            current << line;
            continue;
        }
        starts << current;
        current.clear();
    }
    return starts;
}

// The service beside a new monitor database whose calculation program is the simulator, with
// the scheduler on.
class ServiceTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::copy(KVARNIX_SERVICE, service));
        ASSERT_TRUE(db.OpenOrCreate());
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

    void Start(QProcess& process, const QString& program, const QProcessEnvironment& environment,
               const QStringList& arguments = {}) {
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        ASSERT_TRUE(process.waitForStarted());
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

QStringList ErrorLines(QProcess& process) {
    return QString::fromUtf8(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
}

TEST(ServiceProgram, LinksQtCoreAndNoGuiLibrary) {
    QProcess readelf;
    readelf.start("readelf", {"--dynamic", KVARNIX_SERVICE});
    ASSERT_TRUE(readelf.waitForFinished(kProcessMs));
    ASSERT_EQ(readelf.exitCode(), 0);
    const QStringList needed =
        QString::fromUtf8(readelf.readAllStandardOutput()).split('\n').filter("(NEEDED)");
    EXPECT_EQ(needed.filter("libQt6Core.so").size(), 1) << needed.join('\n').toStdString();
    EXPECT_TRUE(needed.filter("libQt6Gui").isEmpty()) << needed.join('\n').toStdString();
    EXPECT_TRUE(needed.filter("libQt6Widgets").isEmpty()) << needed.join('\n').toStdString();
}

// The first minute is evaluated at once; a setting changed while the service runs holds from
// the next minute on. Every start and nothing else reaches standard error.
TEST_F(ServiceTest, StartsDueRowsWithTheStoredSettingsOfEachMinuteAndEndsOnSigterm) {
    db.SetSetting("SAVE", 3);
    const int key = db.SaveRow("XXXX-XX-XX XX:XX", model, kMacro, -1, 1);
    QProcess process;
    Start(process, service, Headless());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !RecordedStarts(folder).isEmpty(); }, kFirstStartMs))
        << process.readAllStandardError().toStdString();
    db.SetSetting("SAVE", 7);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return RecordedStarts(folder).last() == LaunchArguments(key, 7); }, 130000));

    QElapsedTimer stopping;
    stopping.start();
    process.terminate();
    ASSERT_TRUE(process.waitForFinished(kProcessMs));
    EXPECT_LT(stopping.elapsed(), kStopLimitMs);
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);

    // A start in the minute of the change may still have had the old value.
    const QVector<QStringList> starts = RecordedStarts(folder);
    ASSERT_GE(starts.size(), 2);
    EXPECT_LE(starts.size(), 3);
    for (int i = 0; i + 1 < starts.size(); ++i)
        EXPECT_EQ(starts[i], LaunchArguments(key, 3)) << "start " << i;
    const QString started =
        QString("Beräkningen för rad %1 (%2   %3) har startats.").arg(key).arg(model, kMacro);
    EXPECT_EQ(ErrorLines(process),
              QStringList{"kvarnixmonitord kör schemat i " + folder.DatabaseFile() + "."} +
                  QStringList(int(starts.size()), started) +
                  QStringList{"kvarnixmonitord avslutas."});
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
    Start(process, service, Headless());
    QStringList lines;
    const auto says = [&](const QString& text) {
        return QTest::qWaitFor(
            [&] {
                lines += ErrorLines(process);
                return !lines.filter(text).isEmpty();
            },
            kFirstStartMs);
    };
    EXPECT_TRUE(says(QString("Beräkningen för rad %1 (%2   %3) kunde inte startas: programmet "
                             "%4 finns inte")
                         .arg(key)
                         .arg(model, kMacro, missing)))
        << lines.join('\n').toStdString();
    folder.WriteText(folder.DatabaseFile(), "inte en databas");
    EXPECT_TRUE(says("Filen " + folder.DatabaseFile() + " är ingen monitordatabas"))
        << lines.join('\n').toStdString();
    process.terminate();
    ASSERT_TRUE(process.waitForFinished(kProcessMs));
    EXPECT_EQ(process.exitCode(), 0);
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
    Start(window, folder.ProgramFile(), windowEnvironment);
    Start(process, service, Headless());
    const auto startLines = [&] {
        return folder.ReadLines(folder.LogFile()).filter(" - " + model);
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return !startLines().isEmpty(); }, kFirstStartMs));

    const QDateTime firstMinute = LocalTime(startLines().first().left(16));
    QTest::qWait(int(QDateTime::currentDateTime().msecsTo(firstMinute.addSecs(3 * 60 + 10))));
    EXPECT_EQ(window.state(), QProcess::Running) << window.readAllStandardError().toStdString();
    EXPECT_EQ(process.state(), QProcess::Running) << process.readAllStandardError().toStdString();
    process.terminate();
    window.terminate();
    EXPECT_TRUE(process.waitForFinished(kProcessMs));
    EXPECT_TRUE(window.waitForFinished(kProcessMs));

    QMap<QString, int> startsByMinute;
    for (const QString& line : startLines())
        ++startsByMinute[line.left(16)];
    QMap<QString, int> expected;
    for (int minute = 0; minute <= 3; ++minute)
        expected[firstMinute.addSecs(minute * 60).toString("yyyy-MM-dd HH:mm")] = 1;
    EXPECT_EQ(startsByMinute, expected);
    EXPECT_EQ(RecordedStarts(folder).size(), 4);
}

int CountOfNumbers(const QString& databaseFile) {
    CSqliteConnection connection;
    connection.Open(databaseFile, CSqliteConnection::OpenMode::ReadOnly, 1000);
    CSqliteStatement count = connection.Prepare("SELECT COUNT(*) FROM SEKVENS");
    count.Step();
    return count.ColumnInt(0);
}

// Rows whose listing does not depend on the moment: inactive ones and ones that never start,
// with a calculation of the simulator running for one and a flag left behind by another.
TEST_F(ServiceTest, ListsTheScheduleAndWritesNothing) {
    const QString other = folder.File("Kvarn");
    const int inactive = db.SaveRow("00:15", other, "Timme", -1, 0);
    const int stale = db.SaveRow("2001-01-01 00:00", other, "Kontroll", -1, 1);
    const int running = db.SaveRow("1-07:30", model, kMacro, -1, 0);
    const int impossible = db.SaveRow("XXXX-13-XX 10:00", other, "Månad", -1, 1);
    db.SetSetting(QString("RUNFLAGG%1").arg(stale), 1);
    db.SetSetting(QString("CALC_TIME%1").arg(stale),
                  LocalTime("2026-11-30 17:45:10").toSecsSinceEpoch());
    // Two runs of the stale row: one finished, the later one aborted.
    CRun finished;
    finished.key = stale;
    finished.launched = LocalTime("2026-11-29 06:00:00").toSecsSinceEpoch();
    db.RecordStart(finished);
    db.EndRun(stale, finished.launched + 125, CRun::Outcome::Finished);
    CRun aborted = finished;
    aborted.launched = LocalTime("2026-11-30 17:40:00").toSecsSinceEpoch();
    db.RecordStart(aborted);
    db.EndRun(stale, aborted.launched + 3600, CRun::Outcome::Aborted);
    QProcess calculation;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("KVARNIXSIM_SECONDS", "60");
    Start(calculation, KVARNIX_SIMULATOR, environment, LaunchArguments(running, 0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return db.IsRunFlagSet(running); }, kFirstStartMs));
    db.Close();
    const int numbersBefore = CountOfNumbers(folder.DatabaseFile());

    QProcess listing;
    Start(listing, service, Headless(), {"--list"});
    ASSERT_TRUE(listing.waitForFinished(kProcessMs));
    calculation.kill();
    calculation.waitForFinished();
    EXPECT_EQ(listing.exitCode(), 0);
    EXPECT_EQ(listing.readAllStandardError(), QByteArray());

    // Only the model column's width depends on the folder.
    const auto line = [&](const QString& key, const QString& start, const QString& next,
                          const QString& calc, const QString& state, const QString& lastRun,
                          const QString& rowModel, const QString& macro) {
        return QString("%1  %2  %3  %4  %5  %6  %7  %8  %9")
            .arg(key, 6)
            .arg(start, -16)
            .arg(next, -11)
            .arg(key == "NYCKEL" ? "KVAR" : "", -4)
            .arg(calc, -19)
            .arg(state, -12)
            .arg(lastRun, -24)
            .arg(rowModel, -int(model.size()))
            .arg(macro);
    };
    const QStringList expected = {
        line("NYCKEL", "STARTTID", "NÄSTA START", "SENASTE BERÄKNING", "LÄGE", "SENASTE KÖRNING",
             "MODELL", "MAKRO"),
        line(QString::number(inactive), "00:15", "inaktiv", "Uppgift saknas", "-", "-", other,
             "Timme"),
        line(QString::number(stale), "2001-01-01 00:00", "aldrig", "2026-11-30 17:45:10",
             "flaggan kvar", "avbruten efter 1 h 0 min", other, "Kontroll"),
        line(QString::number(running), "Måndag  07:30", "inaktiv", "Uppgift saknas", "körs", "-",
             model, kMacro),
        line(QString::number(impossible), "XXXX-13-XX 10:00", "aldrig", "Uppgift saknas", "-", "-",
             other, "Månad"),
    };
    EXPECT_EQ(QString::fromUtf8(listing.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
              expected);
    EXPECT_EQ(CountOfNumbers(folder.DatabaseFile()), numbersBefore);

    QProcess history;
    Start(history, service, Headless(), {"--history", QString::number(stale)});
    ASSERT_TRUE(history.waitForFinished(kProcessMs));
    EXPECT_EQ(QString::fromUtf8(history.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
              (QStringList{"START                VARAKTIGHET  UTFALL",
                           "2026-11-30 17:40:00    1 h 0 min  avbruten",
                           "2026-11-29 06:00:00    2 min 5 s  klar"}));
}

// What an operator gets from a wrong call and from a file that is not the schedule, without a
// display; a missing file is not created by a listing.
TEST_F(ServiceTest, AnswersHelpWrongArgumentsAndUnusableFiles) {
    db.Close();
    const struct {
        QStringList arguments;
        QByteArray fileContent; // empty: no file
        int exitCode;
        const char* standardOutput;
        const char* standardError;
    } cases[] = {
        {{"--help"}, "", 0, "Användning: kvarnixmonitord [--list | --history NYCKEL | --help]", ""},
        {{"--history", "tre"}, "", 2, "", "Okända argument: --history tre"},
        {{"-h"}, "", 0, "kvarnixmonitor.mdb  monitordatabasen", ""},
        {{"--lista"}, "", 2, "", "Okända argument: --lista"},
        {{"--list", "extra"}, "", 2, "", "Användning: kvarnixmonitord"},
        {{"--list"}, "", 1, "", "finns inte"},
        {{"--list"}, "inte en databas", 1, "", "är ingen monitordatabas"},
        {{}, "inte en databas", 1, "", "är ingen monitordatabas"},
    };
    for (const auto& c : cases) {
        QFile::remove(folder.DatabaseFile());
        if (!c.fileContent.isEmpty())
            folder.WriteText(folder.DatabaseFile(), c.fileContent);
        QProcess process;
        Start(process, service, Headless(), c.arguments);
        ASSERT_TRUE(process.waitForFinished(kProcessMs));
        const QString call = c.arguments.join(' ');
        EXPECT_EQ(process.exitCode(), c.exitCode) << call.toStdString();
        const QString output = QString::fromUtf8(process.readAllStandardOutput());
        const QString error = QString::fromUtf8(process.readAllStandardError());
        EXPECT_TRUE(output.contains(QString::fromUtf8(c.standardOutput))) << output.toStdString();
        EXPECT_TRUE(error.contains(QString::fromUtf8(c.standardError))) << error.toStdString();
        EXPECT_EQ(QFileInfo::exists(folder.DatabaseFile()), !c.fileContent.isEmpty())
            << call.toStdString();
    }
}

} // namespace
