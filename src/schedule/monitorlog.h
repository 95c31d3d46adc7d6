#pragma once

#include <QDateTime>
#include <QString>

// The monitor's plain-text log of started calculations: one timestamped line per
// launch, trimmed by age before each append.
class CMonitorLog {
public:
    // logPath: the log itself; trimPath: the file the trimmed log is written to
    // before it replaces the log.
    CMonitorLog(QString logPath, QString trimPath);

    // Appends "YYYY-MM-DD HH:MM:SS - " + text and a line break. A log that cannot
    // be opened loses the line and leaves a diagnostic message only.
    void AppendLogLine(const QString& text, const QDateTime& now) const;

    // Keeps the lines dated at most spanDays before the last line's date and drops
    // lines without a timestamp. The old log is replaced in one rename, so a crash
    // leaves either the old or the new log, whole.
    void TrimLog(int spanDays) const;

private:
    QString m_logPath;
    QString m_trimPath;
};
