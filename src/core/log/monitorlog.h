#pragma once

#include "base/sharedfile.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

// The monitor's plain-text log of started calculations: one timestamped line per launch,
// trimmed by age. Several processes, and several threads of each, may append to and trim one log
// at the same time: they take turns through a lock on the log, so no line is lost, also on a
// network file system. The log is never reached through a link at its path. An object is used by
// one thread at a time; it remembers the log as it last left it, which spares a trim that can
// drop nothing reading the whole log again.
class CMonitorLog {
public:
    // logPath: the log itself; trimPath: the name the trimmed log's new file beside it is derived
    // from. lockWait: how long an append or a trim waits for another one to let go of the log.
    CMonitorLog(QString logPath, QString trimPath,
                std::chrono::milliseconds lockWait = std::chrono::seconds(10));

    // Appends "YYYY-MM-DD HH:MM:SS - " + text and a line break, every line break in the text
    // made a blank. A log that cannot be written loses the line; the fault goes to the diagnostic
    // log and to the fault listener, once.
    void AppendLogLine(const QString& text, const QDateTime& now) const;

    // Keeps the lines dated at most spanDays before the last line's date and drops lines without
    // a timestamp. The old log is replaced in one rename, so a crash leaves either the old or the
    // new log, whole. The log is read in pieces, so a log of any size takes little memory.
    void TrimLog(int spanDays) const;

    // The listener hears of a fault that keeps the log from being written, for the operator: when
    // an append or a trim first fails, a Swedish sentence naming the log, what is wrong and what
    // to do; an empty text once both work again; nothing while a fault stands. It is called on
    // the thread that writes, holding no lock on the log, so it may write to the log itself.
    void SetFaultListener(std::function<void(const QString& problem)> listener);

    // The last maxBytes of a log (all of a shorter one), read while no thread of this process
    // holds the log's lock: on a network file system closing the descriptor would drop it.
    // Nothing when the file cannot be read; error then tells why.
    static std::optional<QByteArray> ReadTail(const QString& logPath, qint64 maxBytes,
                                              QString& error);

private:
    enum class Task { Append, Trim };
    // The log as this object last wrote or trimmed it: every line carries a valid date and ends
    // with a line break. Both dates are invalid for an empty log.
    struct CCheckedLog {
        CFileVersion version;
        QDate oldestDate;
        QDate lastDate;
    };
    bool KeepsEverything(const QByteArray& logPath, int spanDays) const;
    int WriteLocked(int fd, const QByteArray& line) const;
    void NoteAppend(const struct stat& before, int fd, const QByteArray& line) const;
    void NoteFailed(Task task, const char* message, int error) const;
    void NoteWorked(Task task) const;
    void NoteProblem(Task task, const QString& problem) const;
    QString& ProblemOf(Task task) const;
    const QString& CurrentProblem() const;

    QString m_logPath;
    QString m_trimPath;
    std::chrono::milliseconds m_lockWait;
    // Shared by the log objects of this process that write the same log.
    std::shared_ptr<std::timed_mutex> m_processTurn;
    std::function<void(const QString& problem)> m_faultListener;
    // What keeps each task from working; empty while it works. The listener hears the append's
    // first, as a lost line weighs more than a log that grows.
    mutable QString m_appendProblem;
    mutable QString m_trimProblem;
    // Only a shortcut: without it a trim reads the log, and comes to the same result.
    mutable std::optional<CCheckedLog> m_checked;
};
