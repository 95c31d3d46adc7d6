#pragma once

#include <QCoreApplication>
#include <QString>
#include <QTemporaryDir>
#include <QVector>
#include <algorithm>

// What the benchmarks of the built programs share: a folder to run one in, and the figures the
// system keeps of a running process.

// A built program copied into a temporary folder beside a monitor database filled with
// rowCount rows, since every file the programs keep is named from their own folder.
class CProgramFolder {
public:
    CProgramFolder(const QString& builtProgram, const QString& programName, int rowCount);

    bool IsPrepared() const { return m_prepared; }
    QString ProgramFile() const { return m_programFile; }
    QString File(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QString m_programFile;
    bool m_prepared;
};

// User and system time in clock ticks, or -1.
qint64 CpuTicks(qint64 pid);
// Resident memory in kB, or -1.
qint64 ResidentKb(qint64 pid);
// The share of one core the ticks are of the seconds.
double CpuPercent(qint64 ticks, int seconds);

template <typename T> T Median(QVector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One figure a line as "name value".
void PrintFigure(const char* name, double value);

// The --idle-seconds option of a benchmark program (60 unless given); a wrong call ends the
// program with the help and status 2.
int IdleSecondsOption(const QCoreApplication& application, const QString& description);
