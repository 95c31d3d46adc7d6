// Time and peak memory of trimming a monitor log of about 1 GB whose oldest day goes, so that
// nearly all of it is written anew. The log is built in a temporary folder and put on disk and
// out of the page cache first, as a log found at a start of the monitor may be. Prints one
// figure a line as "name value".
#include "base/stderrmessenger.h"

#include "base/filedescriptor.h"
#include "base/sharedfile.h"
#include "log/monitorlog.h"

#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr qint64 kLogBytes = qint64(1) << 30;
constexpr int kSpanDays = 100;
constexpr int kLogDays = kSpanDays + 2;
constexpr qsizetype kWriteBytes = 1 << 20;
const QDate kLastDay(2026, 12, 7);
const QByteArray kLaunchText = " - /modeller/modell123   Dygnsberäkning\n";
constexpr int kStampLength = 19;

QDate FirstDay() {
    return kLastDay.addDays(1 - kLogDays);
}

// The same number of launch lines on every day, in time order, written a piece at a time so
// that building the log takes no more memory than trimming it should.
bool BuildLog(const QString& path) {
    const qint64 linesPerDay = kLogBytes / kLogDays / (kStampLength + kLaunchText.size());
    const CFileDescriptor file(::open(QFile::encodeName(path).constData(),
                                      O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    QByteArray piece;
    piece.reserve(kWriteBytes + 256);
    bool written = file.IsValid();
    for (QDate day = FirstDay(); written && day <= kLastDay; day = day.addDays(1)) {
        const QByteArray date = day.toString(Qt::ISODate).toLatin1();
        for (qint64 line = 0; written && line < linesPerDay; ++line) {
            const int second = int(line * 86400 / linesPerDay);
            char stamp[kStampLength + 1];
            std::snprintf(stamp, sizeof stamp, "%s %02d:%02d:%02d", date.constData(), second / 3600,
                          second / 60 % 60, second % 60);
            piece.append(stamp, kStampLength).append(kLaunchText);
            if (piece.size() >= kWriteBytes) {
                written = WriteAll(file.Get(), piece);
                piece.clear();
            }
        }
    }
    written = written && WriteAll(file.Get(), piece) && ::fsync(file.Get()) == 0;
    if (written)
        ::posix_fadvise(file.Get(), 0, 0, POSIX_FADV_DONTNEED);
    else
        PrintError(QStringLiteral("Loggfilen %1 kunde inte skrivas.").arg(path));
    return written;
}

// The peak so far is forgotten, so the figure is the trim's own.
void ResetPeakResident() {
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
}

double PeakResidentMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

// The trimmed log must begin with the day after the oldest, or the figures measured something
// else than the trim.
bool IsTrimmed(const QString& path) {
    QFile log(path);
    const QByteArray expected = FirstDay().addDays(1).toString(Qt::ISODate).toLatin1();
    if (log.open(QIODevice::ReadOnly) && log.read(expected.size()) == expected)
        return true;
    PrintError(QStringLiteral("Loggfilen %1 trimmades inte som väntat.").arg(path));
    return false;
}

double CpuSeconds() {
    timespec now;
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void PrintFigure(const char* name, double value) {
    std::printf("%s %.2f\n", name, value);
    std::fflush(stdout);
}

} // namespace

int main() {
    const QTemporaryDir folder;
    const QString logPath = folder.filePath(QStringLiteral("kvarnixmonitor.log"));
    if (!folder.isValid() || !BuildLog(logPath))
        return 1;
    const CMonitorLog log(logPath, folder.filePath(QStringLiteral("kvarnixmonitor.xxx")));
    ResetPeakResident();
    QElapsedTimer timer;
    timer.start();
    const double cpuBefore = CpuSeconds();
    log.TrimLog(kSpanDays);
    const double cpuSeconds = CpuSeconds() - cpuBefore;
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const double peakMb = PeakResidentMb();
    if (!IsTrimmed(logPath))
        return 1;
    PrintFigure("logtrim_1gb_peak_mb", peakMb);
    PrintFigure("logtrim_1gb_seconds", seconds);
    PrintFigure("logtrim_1gb_cpu_seconds", cpuSeconds);
    return 0;
}
