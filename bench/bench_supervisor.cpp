// What the run supervisor costs: the time from a start to the calculation's first instruction
// with and without the supervisor between them, side by side in one run, and the memory one
// and five hundred supervisors hold while their calculations run.
#include "processprobe.h"

#include "base/filedescriptor.h"
#include "base/spawn.h"
#include "data/run.h"
#include "monitordb/systemdatabase.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kLaunches = 40;
constexpr int kManySupervisors = 500;

qint64 WallClockNs() {
    timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The calculation: writes the moment it began and ends.
int Stamp(const char* path) {
    const std::string text = std::to_string(WallClockNs());
    const CFileDescriptor file(::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644));
    return ::write(file.Get(), text.data(), text.size()) == ssize_t(text.size()) ? 0 : 1;
}

qint64 WaitForStamp(const QString& path) {
    for (int waited = 0; waited < 10000; ++waited) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray text = file.readAll();
            if (!text.isEmpty())
                return text.toLongLong();
        }
        QThread::usleep(200);
    }
    return -1;
}

// Proportional set size in kB from the kernel's summary, or -1.
qint64 PssKb(qint64 pid) {
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!rollup.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : rollup.readAll().split('\n')) {
        if (line.startsWith("Pss:"))
            return line.mid(4).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

class CBench {
public:
    CBench()
        : m_database(m_folder.filePath(QStringLiteral("kvarnixmonitor.mdb"))),
          m_self(QCoreApplication::applicationFilePath().toStdString()) {
        m_db.OpenOrCreate();
    }

    // From the call to the calculation's start, in milliseconds.
    double DirectLaunchMs(int n) {
        const QString stamp = m_folder.filePath(QStringLiteral("direkt-%1").arg(n));
        const qint64 start = WallClockNs();
        SpawnDetached(m_self, {"--stamp", stamp.toStdString()});
        return double(WaitForStamp(stamp) - start) / 1e6;
    }

    double SupervisedLaunchMs(int n) {
        const QString stamp = m_folder.filePath(QStringLiteral("vakt-%1").arg(n));
        const qint64 runId = OpenRun();
        const qint64 start = WallClockNs();
        const qint64 supervisor = StartSupervised(runId, m_self, {"--stamp", stamp.toStdString()});
        if (supervisor < 0)
            return -1;
        return double(WaitForStamp(stamp) - start) / 1e6;
    }

    // Supervisors of calculations that sleep; their process ids.
    QVector<qint64> StartSleepers(int count) {
        QVector<qint64> supervisors;
        for (int i = 0; i < count; ++i)
            supervisors << StartSupervised(OpenRun(), "/bin/sleep", {"120"});
        return supervisors;
    }

    // A supervisor of the calculation simulator, which uses the database as a calculation does.
    qint64 StartSimulated() {
        qputenv("KVARNIXSIM_SECONDS", "120");
        return StartSupervised(OpenRun(), KVARNIX_SIMULATOR,
                               {m_folder.filePath(QStringLiteral("Pump.vxm")).toStdString(), "Dygn",
                                "1", "0", m_database.toStdString(), "1"});
    }

private:
    qint64 OpenRun() {
        CRun run;
        run.key = 1;
        run.model = QStringLiteral("/m/Pump");
        run.macro = QStringLiteral("Dygn");
        run.launched = QDateTime::currentSecsSinceEpoch();
        const qint64 id = m_db.InsertPendingRun(run, 1);
        m_db.MarkStarted(id, run.launched, QStringLiteral("bench"),
                         m_folder.filePath(QStringLiteral("korning-%1.txt").arg(id)));
        return id;
    }

    // As the launcher starts one: the supervisor tells through a pipe that the program began.
    qint64 StartSupervised(qint64 runId, const std::string& program,
                           const std::vector<std::string>& arguments) {
        int report[2];
        if (::pipe2(report, O_CLOEXEC) != 0)
            return -1;
        CFileDescriptor readEnd(report[0]);
        CFileDescriptor writeEnd(report[1]);
        std::vector<std::string> words = {
            "--database",
            m_database.toStdString(),
            "--run",
            std::to_string(runId),
            "--output",
            m_folder.filePath(QStringLiteral("korning-%1.txt").arg(runId)).toStdString(),
            "--report-fd",
            "3",
            "--",
            program};
        words.insert(words.end(), arguments.begin(), arguments.end());
        const SpawnResult spawned = SpawnDetached(KVARNIX_RUNNER, words, writeEnd.Get());
        writeEnd.Close();
        char answer[64];
        if (spawned.pid < 0 || ::read(readEnd.Get(), answer, sizeof answer) <= 0)
            return -1;
        return spawned.pid;
    }

    QTemporaryDir m_folder;
    QString m_database;
    std::string m_self;
    CSystemDatabase m_db{m_database};
};

double TotalPssMb(const QVector<qint64>& pids) {
    qint64 total = 0;
    for (const qint64 pid : pids)
        total += std::max<qint64>(0, PssKb(pid));
    return double(total) / 1024.0;
}

// A supervisor asked to stop stops its calculation and records its end.
void StopAll(const QVector<qint64>& supervisors) {
    for (const qint64 pid : supervisors)
        ::kill(pid_t(pid), SIGTERM);
    for (int waited = 0; waited < 300; ++waited) {
        if (std::none_of(supervisors.begin(), supervisors.end(),
                         [](qint64 pid) { return ::kill(pid_t(pid), 0) == 0; }))
            return;
        QThread::msleep(100);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--stamp")
        return Stamp(argv[2]);
    QCoreApplication application(argc, argv);
    CBench bench;
    QVector<double> direct;
    QVector<double> supervised;
    // Side by side, so a busy moment of the machine weighs on both alike.
    for (int n = 0; n < kLaunches; ++n) {
        direct << bench.DirectLaunchMs(n);
        supervised << bench.SupervisedLaunchMs(n);
    }
    PrintFigure("launch_direct_ms", Median(direct));
    PrintFigure("launch_supervised_ms", Median(supervised));
    PrintFigure("launch_added_ms", Median(supervised) - Median(direct));

    // Alone with a program that shares nothing with it, and as it runs in operation: beside a
    // monitor (this process) and a calculation that map the same SQLite library.
    const QVector<qint64> alone = bench.StartSleepers(1);
    QThread::msleep(500);
    PrintFigure("supervisor_alone_pss_mb", TotalPssMb(alone));
    StopAll(alone);
    const QVector<qint64> one{bench.StartSimulated()};
    QThread::sleep(1);
    PrintFigure("supervisor_pss_mb", TotalPssMb(one));
    StopAll(one);

    const QVector<qint64> many = bench.StartSleepers(kManySupervisors);
    QThread::sleep(2);
    PrintFigure("supervisors_500_pss_mb", TotalPssMb(many));
    StopAll(many);
    return 0;
}
