// Memory and idle CPU of the built service, and the time of its schedule listing, each run the
// way systemd or an operator runs it, in a folder of its own without a display. Prints one
// figure a line as "name value".
#include "processprobe.h"

#include "base/stderrmessenger.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

namespace {

const QString kProgramName = QStringLiteral("kvarnixmonitord");
constexpr int kMemoryRows = 10000;
constexpr int kMemoryRuns = 3;
constexpr int kIdleRows = 1000;
constexpr int kListRows = 10000;
constexpr int kListRuns = 5;
constexpr int kProcessTimeoutMs = 60000;
// After its start the service evaluates the current minute at once and reads the run states
// every 3 s; both have run once by then.
constexpr int kSettleMs = 4000;

// One running service, ended when it goes out of scope.
class CServiceProcess {
public:
    explicit CServiceProcess(const CProgramFolder& folder) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        m_process.setProcessEnvironment(environment);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.start(folder.ProgramFile(), {});
    }
    ~CServiceProcess() {
        m_process.kill();
        m_process.waitForFinished();
    }
    CServiceProcess(const CServiceProcess&) = delete;
    CServiceProcess& operator=(const CServiceProcess&) = delete;

    qint64 Pid() const { return m_process.processId(); }

    // Once it has said that it runs the schedule, and its first minute and refresh are done.
    bool WaitUntilSettled() {
        QElapsedTimer waited;
        waited.start();
        while (!m_process.readAllStandardError().contains("kör schemat")) {
            if (waited.elapsed() > kProcessTimeoutMs || !Idle(10))
                return false;
        }
        return Idle(kSettleMs);
    }

    // False when the program ended meanwhile.
    bool Idle(int ms) {
        if (m_process.state() == QProcess::NotRunning || m_process.waitForFinished(ms)) {
            PrintError(QStringLiteral("Tjänsten avslutades: %1").arg(m_process.errorString()));
            return false;
        }
        return true;
    }

private:
    QProcess m_process;
};

bool MeasureMemory() {
    const CProgramFolder folder(KVARNIX_SERVICE, kProgramName, kMemoryRows);
    if (!folder.IsPrepared())
        return false;
    QVector<qint64> residentKb;
    for (int run = 0; run < kMemoryRuns; ++run) {
        CServiceProcess service(folder);
        if (!service.WaitUntilSettled())
            return false;
        residentKb << ResidentKb(service.Pid());
    }
    PrintFigure("service_resident_mb", Median(residentKb) / 1024.0);
    return true;
}

bool MeasureIdleCpu(int seconds) {
    const CProgramFolder folder(KVARNIX_SERVICE, kProgramName, kIdleRows);
    if (!folder.IsPrepared())
        return false;
    CServiceProcess service(folder);
    if (!service.WaitUntilSettled())
        return false;
    const qint64 before = CpuTicks(service.Pid());
    if (!service.Idle(seconds * 1000))
        return false;
    PrintFigure("service_idle_cpu_percent", CpuPercent(CpuTicks(service.Pid()) - before, seconds));
    return true;
}

// From the start of the process to its end, the listing written.
bool MeasureListing() {
    const CProgramFolder folder(KVARNIX_SERVICE, kProgramName, kListRows);
    if (!folder.IsPrepared())
        return false;
    QVector<qint64> elapsedMs;
    for (int run = 0; run < kListRuns; ++run) {
        QProcess listing;
        listing.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer elapsed;
        elapsed.start();
        listing.start(folder.ProgramFile(), {QStringLiteral("--list")});
        if (!listing.waitForFinished(kProcessTimeoutMs) || listing.exitCode() != 0) {
            PrintError(QStringLiteral("Listan misslyckades: %1")
                           .arg(QString::fromUtf8(listing.readAllStandardError())));
            return false;
        }
        elapsedMs << elapsed.elapsed();
    }
    PrintFigure("service_list_ms", Median(elapsedMs));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds =
        IdleSecondsOption(app, QStringLiteral("Resident memory, idle CPU and schedule listing of "
                                              "the service program " KVARNIX_SERVICE));
    const bool measured = MeasureListing() && MeasureMemory() && MeasureIdleCpu(seconds);
    return measured ? 0 : 1;
}
