#include "processprobe.h"

#include "monitorfolder.h"

#include "base/stderrmessenger.h"
#include "files/programpaths.h"

#include <QCommandLineParser>
#include <QFile>
#include <cstdio>
#include <unistd.h>

namespace {

// Fields 14 and 15 of /proc/<pid>/stat, counted from the one after the command name.
constexpr int kUserTimeField = 11;
constexpr int kSystemTimeField = 12;

QByteArray ProcFile(qint64 pid, const char* name) {
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

CProgramFolder::CProgramFolder(const QString& builtProgram, const QString& programName,
                               int rowCount)
    : m_programFile(m_dir.filePath(programName)),
      m_prepared(
          m_dir.isValid() && QFile::copy(builtProgram, m_programFile) &&
          FillMonitorDatabase(
              CProgramPaths(m_dir.filePath(QStringLiteral("kvarnixmonitor"))).MonitorDatabase(),
              rowCount)) {
    if (!m_prepared)
        PrintError(QStringLiteral("Programmappen %1 kunde inte förberedas.").arg(m_dir.path()));
}

// The command name may hold blanks, so the fields are counted from its closing parenthesis.
qint64 CpuTicks(qint64 pid) {
    const QByteArray stat = ProcFile(pid, "stat");
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() <= kSystemTimeField)
        return -1;
    return fields[kUserTimeField].toLongLong() + fields[kSystemTimeField].toLongLong();
}

qint64 ResidentKb(qint64 pid) {
    for (const QByteArray& line : ProcFile(pid, "status").split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

double CpuPercent(qint64 ticks, int seconds) {
    return 100.0 * double(ticks) / double(sysconf(_SC_CLK_TCK)) / seconds;
}

void PrintFigure(const char* name, double value) {
    std::printf("%s %.2f\n", name, value);
    std::fflush(stdout);
}

int IdleSecondsOption(const QCoreApplication& application, const QString& description) {
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    const QCommandLineOption idleSeconds(QStringLiteral("idle-seconds"),
                                         QStringLiteral("How long the idle program is watched."),
                                         QStringLiteral("seconds"), QStringLiteral("60"));
    parser.addOption(idleSeconds);
    parser.process(application);
    bool isNumber = false;
    const int seconds = parser.value(idleSeconds).toInt(&isNumber);
    if (!isNumber || seconds <= 0)
        parser.showHelp(2);
    return seconds;
}
