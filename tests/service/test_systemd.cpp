// The built service as systemd runs it: readiness, status and watchdog on a notify socket the
// test reads as systemd would, SIGHUP, the journal's priorities, --status, and the Swedish
// line and status 2 for each mistake in the arguments of both programs.
#include "monitordb/sqliteconnection.h"
#include "monitordb/systemdatabase.h"
#include "support/programrun.h"
#include "support/testsupport.h"

#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <tuple>
#include <unistd.h>

namespace {

const QString kMacro = QStringLiteral("Timberäkning");

// Plays systemd's part: a datagram socket that NOTIFY_SOCKET names, every message kept.
class CNotifySocket {
public:
    explicit CNotifySocket(const QString& path) : m_path(path) {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::copy(name.begin(), name.end(), address.sun_path);
        m_bound = ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~CNotifySocket() { ::close(m_fd); }
    CNotifySocket(const CNotifySocket&) = delete;
    CNotifySocket& operator=(const CNotifySocket&) = delete;

    bool Bound() const { return m_bound; }
    QString Path() const { return m_path; }
    // Waits until a message holds the line; every message read is kept.
    bool WaitFor(const QString& line, int ms) {
        return QTest::qWaitFor([&] { return Receive().contains(line); }, ms);
    }
    // Every line received so far, in order.
    QStringList Lines() {
        Receive();
        return m_lines;
    }

private:
    QStringList Receive() {
        char buffer[4096];
        for (ssize_t size; (size = ::recv(m_fd, buffer, sizeof buffer, 0)) > 0;)
            m_lines << QString::fromUtf8(buffer, size).split(u'\n', Qt::SkipEmptyParts);
        return m_lines;
    }

    QString m_path;
    int m_fd = -1;
    bool m_bound = false;
    QStringList m_lines;
};

class SystemdServiceTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::copy(KVARNIX_SERVICE, service));
        ASSERT_TRUE(notify.Bound());
        ASSERT_NO_THROW(db.OpenOrCreate());
        db.SaveRow("- - - -", KVARNIX_SIMULATOR, "- - - -", 0, 0);
        db.SetSetting("DRIFT", 1);
        folder.WriteText(model + ".vxm", "modell");
    }

    QProcessEnvironment Environment(const QString& simulatorSeconds) const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("QT_QPA_PLATFORM");
        environment.insert("NOTIFY_SOCKET", notify.Path());
        environment.insert("KVARNIXSIM_SECONDS", simulatorSeconds);
        return environment;
    }

    QString Said(QProcess& process) {
        return said += QString::fromUtf8(process.readAllStandardError());
    }
    bool WaitForSaid(QProcess& process, const QString& line, int ms = 30000) {
        return QTest::qWaitFor([&] { return Said(process).split(u'\n').contains(line); }, ms);
    }

    CTestFolder folder;
    const QString service = folder.File("kvarnixmonitord");
    const QString model = folder.File("Kvarn'Syd");
    CNotifySocket notify{folder.File("notify")};
    CSystemDatabase db{folder.DatabaseFile()};
    QString said;
};

// Ready once the first minute is evaluated, with DRIFT in the status; the watchdog fed after.
TEST_F(SystemdServiceTest, TellsSystemdItIsReadyAndFeedsTheWatchdog) {
    db.Close();
    QProcess process;
    StartProgram(process, service, Environment("1"));
    ASSERT_TRUE(notify.WaitFor("READY=1", 30000)) << Said(process).toStdString();
    const QStringList lines = notify.Lines();
    const qsizetype ready = lines.indexOf("READY=1");
    EXPECT_EQ(lines.at(ready - 1),
              "STATUS=kör schemat i " + folder.DatabaseFile() + " (DRIFT = 1)");
    EXPECT_EQ(lines.count("READY=1"), 1);
    EXPECT_TRUE(notify.WaitFor("WATCHDOG=1", 30000));
    EXPECT_FALSE(lines.join(u'\n').contains("väntar på"));
    StopBySigterm(process);
}

// A file another process holds is waited for and said in the status, with more time asked
// for the start, and no readiness until the file is free.
TEST_F(SystemdServiceTest, SaysInItsStatusThatItWaitsForAHeldFile) {
    db.Close();
    CSqliteConnection holder;
    holder.Open(folder.DatabaseFile(), CSqliteConnection::OpenMode::ExistingFile, 1000);
    holder.Execute("BEGIN EXCLUSIVE");
    holder.Execute("UPDATE SEKVENS SET NUMMER = 0 WHERE NAMN = 'DRIFT'");
    QProcess process;
    StartProgram(process, service, Environment("1"));
    const QString waiting = "STATUS=väntar på monitordatabasen " + folder.DatabaseFile() +
                            ", som ett annat program håller låst";
    ASSERT_TRUE(notify.WaitFor(waiting, 30000)) << Said(process).toStdString();
    EXPECT_TRUE(notify.WaitFor("EXTEND_TIMEOUT_USEC=60000000", 10000));
    EXPECT_FALSE(notify.Lines().contains("READY=1"));
    EXPECT_EQ(notify.Lines().count(waiting), 1);
    holder.Execute("COMMIT");
    EXPECT_TRUE(notify.WaitFor("READY=1", 30000));
    EXPECT_TRUE(notify.Lines().contains("STATUS=schemaläggaren är avstängd (DRIFT = 0) i " +
                                        folder.DatabaseFile()));
    StopBySigterm(process);
}

// SIGHUP reads what is stored now and says it; the service goes on and reloads for systemd.
TEST_F(SystemdServiceTest, SighupRereadsAChangedDrift) {
    db.Close();
    QProcess process;
    StartProgram(process, service, Environment("1"));
    ASSERT_TRUE(notify.WaitFor("READY=1", 30000)) << Said(process).toStdString();
    {
        CSystemDatabase file(folder.DatabaseFile());
        file.Open();
        file.SetSetting("DRIFT", 0);
    }
    ASSERT_EQ(::kill(pid_t(process.processId()), SIGHUP), 0);
    EXPECT_TRUE(WaitForSaid(process, "<6>Inställningarna är inlästa på nytt: Schemaläggaren är "
                                     "avstängd (DRIFT = 0): inga beräkningar startas. Slå på den "
                                     "i monitorns inställningar."));
    EXPECT_TRUE(Said(process).contains("<6>SIGHUP: inställningarna läses in på nytt.\n"));
    EXPECT_TRUE(notify.WaitFor("RELOADING=1", 10000));
    EXPECT_EQ(notify.Lines().count("READY=1"), 2);
    EXPECT_EQ(process.state(), QProcess::Running);
    StopBySigterm(process);
}

// journalctl -p warning shows the failed start and the file fault, not the ordinary lines.
TEST_F(SystemdServiceTest, EachLineCarriesItsJournalPriority) {
    db.SaveRow("XXXX-XX-XX XX:XX", model, kMacro, -1, 1);
    db.SaveRow("- - - -", folder.File("saknas/beräkna"), "- - - -", 0, 0);
    db.Close();
    QProcess process;
    StartProgram(process, service, Environment("1"));
    const QString failed =
        QString("<4>Beräkningen för rad 1 (%1   %2) kunde inte startas: ").arg(model, kMacro);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Said(process).contains(failed); }, 70000))
        << said.toStdString();
    EXPECT_TRUE(said.startsWith("<6>kvarnixmonitord kör schemat i " + folder.DatabaseFile() +
                                ".\n<6>Schemaläggaren är påslagen"))
        << said.toStdString();
    StopBySigterm(process);
    EXPECT_TRUE(Said(process).endsWith("<6>kvarnixmonitord avslutas.\n"));

    folder.WriteText(folder.DatabaseFile(), "ingen databas");
    const CProgramRun run = RunToEnd(service, {}, Environment("1"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(
        run.error.startsWith("<3>Filen " + folder.DatabaseFile() + " är ingen monitordatabas"))
        << run.error.toStdString();
}

// --status while the service runs a long calculation: who holds the schedule, DRIFT, the
// minute and the open run.
TEST_F(SystemdServiceTest, StatusTellsWhoHoldsTheScheduleAndTheOpenRuns) {
    const int key = db.SaveRow("XXXX-XX-XX XX:XX", model, kMacro, -1, 1);
    db.Close();
    QProcess process;
    StartProgram(process, service, Environment("90"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Said(process).contains("har startats"); }, 70000))
        << said.toStdString();
    const CProgramRun run = RunToEnd(service, {"--status"}, Environment("1"));
    const qint64 serviceProcess = process.processId();
    StopBySigterm(process);
    ASSERT_EQ(run.exitCode, 0) << run.error.toStdString();
    const QStringList lines = run.output.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5) << run.output.toStdString();
    const QString holder = QString("Schemat hålls av kvarnixmonitord (tjänsten) på %1 "
                                   "(process %2), sedan ")
                               .arg(QSysInfo::machineHostName())
                               .arg(serviceProcess);
    EXPECT_TRUE(lines[0].startsWith(holder)) << lines[0].toStdString();
    EXPECT_EQ(lines[1], "Schemaläggaren är påslagen (DRIFT = 1).");
    EXPECT_TRUE(lines[2].startsWith("Senast schemalagda minut: " +
                                    QDateTime::currentDateTime().toString("yyyy-MM-dd")));
    EXPECT_EQ(lines[3], "Pågående körningar:");
    EXPECT_TRUE(
        lines[4].startsWith(QString("  rad %1  %2   %3  pågår sedan ").arg(key).arg(model, kMacro)))
        << lines[4].toStdString();
}

// Each mistake gets its own Swedish line, the way to the help, and status 2; the window's
// help needs no display.
TEST(CommandLines, EachMistakeIsToldInSwedishWithStatusTwo) {
    QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        noDisplay.remove(name);
    const std::tuple<const char*, QStringList, int, const char*> cases[] = {
        {KVARNIX_SERVICE,
         {"--history"},
         2,
         "--history kräver ett radnummer, till exempel --history 12\n"},
        {KVARNIX_SERVICE,
         {"--history", "0"},
         2,
         "--history kräver ett radnummer, till exempel --history 12 (\"0\" är inget positivt "
         "heltal)\n"},
        {KVARNIX_SERVICE,
         {"--history="},
         2,
         "--history kräver ett radnummer, till exempel --history 12 (\"\" är inget positivt "
         "heltal)\n"},
        {KVARNIX_SERVICE,
         {"--list", "--mapp"},
         2,
         "--mapp kräver en mapp, till exempel --mapp /var/lib/kvarnixmonitor\n"},
        {KVARNIX_SERVICE, {"--stat"}, 2, "Okänt alternativ: stat\n"},
        {KVARNIX_SERVICE,
         {"--status", "--list"},
         2,
         "Ange bara ett av --list, --history, --output, --cancel, --status, --version och "
         "--help.\n"},
        {KVARNIX_SERVICE, {"status"}, 2, "Okänt argument: status\n"},
        {KVARNIX_MONITOR,
         {"--mapp"},
         2,
         "--mapp kräver en mapp, till exempel --mapp /var/lib/kvarnixmonitor\n"},
        {KVARNIX_MONITOR, {"-x"}, 2, "Okänt alternativ: x\n"},
        {KVARNIX_MONITOR, {"--help", "--version"}, 2, "Ange bara ett av --version och --help.\n"},
    };
    for (const auto& [program, arguments, status, line] : cases) {
        SCOPED_TRACE(
            (QString(program).section(u'/', -1) + u' ' + arguments.join(u' ')).toStdString());
        const CProgramRun run = RunToEnd(program, arguments, noDisplay);
        EXPECT_EQ(run.exitCode, status);
        EXPECT_EQ(run.error, QString::fromUtf8(line) + "Se " + QString(program).section(u'/', -1) +
                                 " --help.\n");
        EXPECT_EQ(run.output, "");
    }
    const CProgramRun help = RunToEnd(KVARNIX_MONITOR, {"--help"}, noDisplay);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.output.startsWith("Användning: kvarnixmonitor [--mapp MAPP] [--version | "
                                       "--help]\n"));
    EXPECT_EQ(RunToEnd(KVARNIX_SERVICE, {"--version"}, noDisplay).output, "kvarnixmonitord 2.0\n");
}

} // namespace
