// Start-up, memory and idle CPU of the built monitor program, started the way an operator
// starts it, in a folder of its own, on the offscreen platform. Prints one figure a line as
// "name value".
#include "processprobe.h"

#include "base/stderrmessenger.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <optional>

namespace {

constexpr int kStartupRows = 10000;
constexpr int kStartupRuns = 5;
constexpr int kIdleRows = 1000;
constexpr int kReadyTimeoutMs = 60000;
constexpr int kPollMs = 2;

struct CStartupTimes {
    qint64 seenFromOutsideMs;
    qint64 fromMainMs;
};

// One running monitor, ended when it goes out of scope.
class CMonitorProcess {
public:
    explicit CMonitorProcess(const CProgramFolder& folder)
        : m_readyFile(folder.File(QStringLiteral("ready"))) {
        QFile::remove(m_readyFile);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("KVARNIX_READY_FILE"), m_readyFile);
        m_process.setProcessEnvironment(environment);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_sinceStart.start();
        m_process.start(folder.ProgramFile(), {});
    }
    ~CMonitorProcess() {
        m_process.kill();
        m_process.waitForFinished();
    }
    CMonitorProcess(const CMonitorProcess&) = delete;
    CMonitorProcess& operator=(const CMonitorProcess&) = delete;

    qint64 Pid() const { return m_process.processId(); }

    // Nothing when the program ended or did not get ready in time.
    std::optional<CStartupTimes> WaitUntilReady() {
        while (m_sinceStart.elapsed() < kReadyTimeoutMs) {
            if (const std::optional<qint64> fromMain = ReadyReport())
                return CStartupTimes{m_sinceStart.elapsed(), *fromMain};
            if (!Idle(kPollMs))
                return std::nullopt;
        }
        PrintError(QStringLiteral("Monitorn blev inte klar inom %1 ms.").arg(kReadyTimeoutMs));
        return std::nullopt;
    }

    // False when the program ended meanwhile.
    bool Idle(int ms) {
        if (m_process.state() == QProcess::NotRunning || m_process.waitForFinished(ms)) {
            PrintError(QStringLiteral("Monitorn avslutades: %1").arg(m_process.errorString()));
            return false;
        }
        return true;
    }

private:
    // The file is written in one piece, so a number in it is the whole report.
    std::optional<qint64> ReadyReport() const {
        QFile file(m_readyFile);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        bool isNumber = false;
        const qint64 ms = file.readAll().toLongLong(&isNumber);
        return isNumber ? std::optional<qint64>(ms) : std::nullopt;
    }

    QString m_readyFile;
    QProcess m_process;
    QElapsedTimer m_sinceStart;
};

bool MeasureStartup() {
    const CProgramFolder folder(KVARNIX_MONITOR, QStringLiteral("kvarnixmonitor"), kStartupRows);
    if (!folder.IsPrepared())
        return false;
    QVector<qint64> outside, fromMain, residentKb;
    for (int run = 0; run < kStartupRuns; ++run) {
        CMonitorProcess monitor(folder);
        const std::optional<CStartupTimes> times = monitor.WaitUntilReady();
        if (!times)
            return false;
        outside << times->seenFromOutsideMs;
        fromMain << times->fromMainMs;
        residentKb << ResidentKb(monitor.Pid());
    }
    PrintFigure("startup_ms", Median(outside));
    PrintFigure("startup_from_main_ms", Median(fromMain));
    PrintFigure("resident_mb", Median(residentKb) / 1024.0);
    return true;
}

bool MeasureIdleCpu(int seconds) {
    const CProgramFolder folder(KVARNIX_MONITOR, QStringLiteral("kvarnixmonitor"), kIdleRows);
    if (!folder.IsPrepared())
        return false;
    CMonitorProcess monitor(folder);
    if (!monitor.WaitUntilReady())
        return false;
    const qint64 before = CpuTicks(monitor.Pid());
    if (!monitor.Idle(seconds * 1000))
        return false;
    const qint64 used = CpuTicks(monitor.Pid()) - before;
    PrintFigure("idle_cpu_percent", CpuPercent(used, seconds));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = IdleSecondsOption(
        app,
        QStringLiteral(
            "Start-up time, resident memory and idle CPU of the monitor program " KVARNIX_MONITOR));
    return MeasureStartup() && MeasureIdleCpu(seconds) ? 0 : 1;
}
