#include "log/monitorlog.h"

#include "base/diagnostics.h"
#include "base/filedescriptor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace {

// '0' stands for any decimal digit.
constexpr char kTimestampShape[] = "0000-00-00 00:00:00";
constexpr qsizetype kTimestampLength = sizeof(kTimestampShape) - 1;
constexpr qsizetype kDateLength = 10;
// A pass over a long log takes a few hundred reads of this size, and no more memory than a few.
constexpr qsizetype kChunkBytes = 1 << 20;
// Enough for the last line of any log this program wrote.
constexpr qsizetype kBackwardBytes = 1 << 16;
// Another process's trim may replace the log while this one reads it; the trim then starts over
// on the new log, a few times at most.
constexpr int kTrimAttempts = 3;
// A trim writes its new file within seconds; one left alone for this long is no trim's work in
// progress but the leftover of a trim that was killed.
constexpr time_t kLeftoverSeconds = 10 * 60;
// mkostemp() makes a name unique with this many letters and digits.
constexpr qsizetype kUniqueLength = 6;

constexpr char kOpenFailed[] = "KvarnixMonitors loggfil kunde inte öppnas ";
constexpr char kReadFailed[] = "KvarnixMonitors loggfil kunde inte läsas ";
constexpr char kWriteFailed[] = "KvarnixMonitors loggfil kunde inte skrivas ";
constexpr char kTrimFileWriteFailed[] = "KvarnixMonitors trimfil kunde inte skrivas ";

// A step of an append or a trim that failed: its diagnostic message and the system's error behind
// it, 0 when there is none.
struct CFailure {
    const char* message;
    int error;
};

// code: the system's error, 0 when there is none.
void WarnWithCode(const char* message, int code) {
    qCWarning(lcLog).noquote() << QString::fromUtf8(message) +
                                      (code != 0 ? QString::number(code) : QString());
}

void Warn(const char* message) {
    qCWarning(lcLog).noquote() << QString::fromUtf8(message);
}

QString RemedyFor(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return QStringLiteral("Ge monitorn skrivrätt till filen och mappen den ligger i.");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("Frigör utrymme på disken den ligger på.");
    default:
        return QStringLiteral("Kontrollera filen och mappen den ligger i.");
    }
}

// What the operator reads of a fault. What lies at the log's path tells more than the error: a
// link, which the log is never opened through, reads as "too many levels of symbolic links".
QString ProblemText(const QString& logPath, int error) {
    struct stat status;
    if (::lstat(QFile::encodeName(logPath).constData(), &status) == 0) {
        if (S_ISLNK(status.st_mode))
            return QStringLiteral(
                       "Monitorloggen %1 är en symbolisk länk; monitorn följer den inte. "
                       "Ta bort länken.")
                .arg(logPath);
        if (S_ISDIR(status.st_mode))
            return QStringLiteral("Monitorloggen %1 är en mapp. Ta bort eller flytta mappen, så "
                                  "skapar monitorn loggen på nytt.")
                .arg(logPath);
        if (!S_ISREG(status.st_mode))
            return QStringLiteral("Monitorloggen %1 är ingen vanlig fil. Ersätt den med en vanlig "
                                  "fil.")
                .arg(logPath);
    }
    return QStringLiteral("Monitorloggen %1 går inte att skriva i (%2). %3")
        .arg(logPath, qt_error_string(error), RemedyFor(error));
}

// The threads of this process that write one log take turns through one mutex, whichever log
// object each of them uses.
std::shared_ptr<std::timed_mutex> ProcessTurnAt(const QString& logPath) {
    static std::mutex registryMutex;
    static std::map<QString, std::weak_ptr<std::timed_mutex>> turns;
    const QString key = QDir::cleanPath(QFileInfo(logPath).absoluteFilePath());
    const std::lock_guard<std::mutex> lock(registryMutex);
    std::shared_ptr<std::timed_mutex> turn = turns[key].lock();
    if (turn)
        return turn;
    for (auto it = turns.begin(); it != turns.end();)
        it = it->second.expired() && it->first != key ? turns.erase(it) : std::next(it);
    turn = std::make_shared<std::timed_mutex>();
    turns[key] = turn;
    return turn;
}

// A descriptor of the log, and this thread's turn at the log: first the turn among the threads of
// this process, then the lock on the file. On a network file system that lock belongs to the
// process, not to the descriptor: two threads would both get it, and closing any descriptor of
// the log drops it. So a descriptor of the log is closed only during a turn, this thread's own or
// one it waits for.
class CLogFile {
public:
    explicit CLogFile(std::timed_mutex& processTurn) : m_processTurn(processTurn) {}
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;
    ~CLogFile() { Close(); }

    // Called once. The log is opened here rather than through QFile for the flags: read and
    // write, as the lock on a network file system needs a descriptor that may write, and the
    // log's last byte is read through the same descriptor; no link followed, so nothing outside
    // the folder is written; never blocking, as it would on a named pipe.
    bool Open(const QByteArray& path, int flags) {
        m_fd.Reset(
            ::open(path.constData(), flags | O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0666));
        return m_fd.IsValid();
    }

    int Get() const { return m_fd.Get(); }

    // Waits until it is this thread's turn; the log must still be the file at path.
    LockResult TakeTurn(const QByteArray& path, const QDeadlineTimer& deadline) {
        if (!m_processTurn.try_lock_until(deadline.deadline<std::chrono::steady_clock>()))
            return LockResult::TimedOut;
        const LockResult result = LockAsFileAt(m_fd.Get(), path, deadline);
        m_bInTurn = result == LockResult::Locked;
        if (!m_bInTurn)
            m_processTurn.unlock();
        return result;
    }

    void EndTurn() {
        ::flock(m_fd.Get(), LOCK_UN);
        m_bInTurn = false;
        m_processTurn.unlock();
    }

    // Ends the turn too, as the close lets go of the file's lock.
    void Close() {
        if (!m_fd.IsValid())
            return;
        if (!m_bInTurn)
            m_processTurn.lock();
        m_fd.Close();
        m_bInTurn = false;
        m_processTurn.unlock();
    }

private:
    std::timed_mutex& m_processTurn;
    CFileDescriptor m_fd;
    bool m_bInTurn = false;
};

bool IsLetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The name CReplacementFile gives a new file: the prefix, a dot and a unique part.
bool IsReplacementName(QByteArrayView name, QByteArrayView prefix) {
    if (name.size() != prefix.size() + 1 + kUniqueLength || !name.startsWith(prefix) ||
        name[prefix.size()] != '.')
        return false;
    const QByteArrayView unique = name.last(kUniqueLength);
    return std::all_of(unique.begin(), unique.end(), IsLetterOrDigit);
}

// Never a link, nor another user's file: both may be there for reasons of their own.
bool IsLeftover(const struct stat& file, const timespec& now) {
    return S_ISREG(file.st_mode) && file.st_uid == ::geteuid() &&
           now.tv_sec - file.st_mtim.tv_sec > kLeftoverSeconds;
}

// A trim killed before its new log took the log's place leaves the new file behind for ever.
void RemoveLeftoverReplacements(const QString& trimPath) {
    const QFileInfo trimFile(trimPath);
    const QByteArray prefix = QFile::encodeName(trimFile.fileName());
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(
        ::opendir(QFile::encodeName(trimFile.absolutePath()).constData()), ::closedir);
    if (!folder)
        return;
    timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    while (const dirent* entry = ::readdir(folder.get())) {
        struct stat status;
        if (IsReplacementName(entry->d_name, prefix) &&
            ::fstatat(::dirfd(folder.get()), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            IsLeftover(status, now))
            ::unlinkat(::dirfd(folder.get()), entry->d_name, 0);
    }
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Timestamps are ASCII, so the bytes of a UTF-8 line can be checked as its characters.
bool HasTimestampShape(QByteArrayView line) {
    const QByteArrayView head = line.first(std::min(line.size(), kTimestampLength)).trimmed();
    for (qsizetype i = 0; i < head.size(); ++i) {
        const char expected = kTimestampShape[i];
        if (expected == '0' ? !IsDigit(head[i]) : head[i] != expected)
            return false;
    }
    return true;
}

bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Read as C's atoi reads the field's characters that exist: blanks and one sign first, then the
// leading digits; 0 when there are none.
int FieldNumber(QByteArrayView line, qsizetype from, qsizetype count) {
    const qsizetype end = std::min(line.size(), from + count);
    qsizetype i = from;
    while (i < end && IsBlank(line[i]))
        ++i;
    const bool isNegative = i < end && line[i] == '-';
    if (i < end && (line[i] == '-' || line[i] == '+'))
        ++i;
    int number = 0;
    for (; i < end && IsDigit(line[i]); ++i)
        number = number * 10 + (line[i] - '0');
    return isNegative ? -number : number;
}

QDate DateAtStart(QByteArrayView line) {
    return QDate(FieldNumber(line, 0, 4), FieldNumber(line, 5, 2), FieldNumber(line, 8, 2));
}

// Counted in calendar days on the date, so a daylight-saving change inside the span shifts
// nothing. A negative span would drop even the newest line; it keeps the last day instead.
// Without a last date (the last line carries none) nothing goes for its age.
QDate OldestKeptDate(QDate lastDate, int spanDays) {
    return lastDate.addDays(-qint64(std::max(spanDays, 0)));
}

// date: the line's own. A line whose date is no date cannot be aged and goes.
bool IsKept(QByteArrayView line, QDate date, QDate oldestKept) {
    return date.isValid() && (!oldestKept.isValid() || date >= oldestKept) &&
           HasTimestampShape(line);
}

// The date of a line the trim keeps; no date for one it drops.
QDate KeptLineDate(QByteArrayView line, QDate oldestKept) {
    const QDate date = DateAtStart(line);
    return IsKept(line, date, oldestKept) ? date : QDate();
}

// A line break in a model path or macro name would split its log line, and the trim would drop
// the part after it as a line without a timestamp.
QString OnOneLine(QString text) {
    for (QChar& c : text) {
        switch (c.unicode()) {
        case u'\n':
        case u'\v':
        case u'\f':
        case u'\r':
        case 0x85:   // next line
        case 0x2028: // line separator
        case 0x2029: // paragraph separator
            c = u' ';
            break;
        default:
            break;
        }
    }
    return text;
}

QByteArray LogLine(const QString& text, const QDateTime& now) {
    return (now.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss - ")) + OnOneLine(text) +
            u'\n')
        .toUtf8();
}

// The first characters of the log's last line, as many as its date takes. The log is read
// backwards from its end, so no more than the last line is read, however long the log.
std::optional<QByteArray> LastLineHead(int fd, off_t size) {
    char lastByte;
    if (ReadAt(fd, &lastByte, 1, size - 1) != 1)
        return std::nullopt;
    const off_t end = lastByte == '\n' ? size - 1 : size;
    QByteArray block(kBackwardBytes, Qt::Uninitialized);
    off_t lineStart = 0;
    for (off_t blockEnd = end; blockEnd > 0 && lineStart == 0;) {
        const off_t blockStart = std::max<off_t>(0, blockEnd - kBackwardBytes);
        const qint64 length = blockEnd - blockStart;
        if (ReadAt(fd, block.data(), length, blockStart) != length)
            return std::nullopt;
        const qsizetype lineBreak = QByteArrayView(block.constData(), length).lastIndexOf('\n');
        if (lineBreak >= 0)
            lineStart = blockStart + lineBreak + 1;
        blockEnd = blockStart;
    }
    QByteArray head(kDateLength, Qt::Uninitialized);
    const qint64 got =
        ReadAt(fd, head.data(), std::min<qint64>(kDateLength, end - lineStart), lineStart);
    if (got < 0)
        return std::nullopt;
    head.truncate(got);
    return head;
}

// Read through the append's own descriptor: a second one, closed again, would drop the lock on a
// network file system. A log whose end cannot be read, such as a named pipe, counts as ending
// with a line break.
bool EndsWithLineBreak(int fd, off_t size) {
    char last = '\n';
    ReadAt(fd, &last, 1, size - 1);
    return last == '\n';
}

// The trimmed log as the filter hands it on. Up to the first line the trim drops it is the
// log's own beginning, so nothing is written until then: a trim that changes nothing writes
// nothing. Kept bytes that follow each other in memory are gathered and written in one piece,
// without a copy when the piece is large.
class CTrimOutput {
public:
    CTrimOutput(int logFd, QByteArray namePrefix, mode_t mode)
        : m_logFd(logFd), m_namePrefix(std::move(namePrefix)), m_mode(mode) {}

    bool HasDiverged() const { return m_file.has_value(); }
    bool HasFailed() const { return m_failure.has_value(); }
    // The first step that failed.
    const CFailure& Failure() const { return *m_failure; }

    // The bytes must stay as they are until the next call of any other member.
    void Keep(QByteArrayView bytes) {
        if (!m_run.isEmpty() && m_run.data() + m_run.size() == bytes.data()) {
            m_run = QByteArrayView(m_run.data(), m_run.size() + bytes.size());
            return;
        }
        Settle();
        m_run = bytes;
    }

    // Takes over the bytes kept so far, so that the memory they lie in may change.
    void Settle() {
        const QByteArrayView run = std::exchange(m_run, QByteArrayView());
        if (!m_file) {
            m_unchangedBytes += run.size();
            return;
        }
        if (m_buffer.size() + run.size() < kChunkBytes)
            m_buffer.append(run);
        else if (Flush() && !WriteAll(m_file->Get(), run))
            Fail(kTrimFileWriteFailed);
    }

    // From here on the trimmed log departs from the log.
    void Diverge() {
        Settle();
        if (m_file)
            return;
        m_file.emplace(m_namePrefix, m_mode);
        m_buffer.reserve(kChunkBytes);
        if (!m_file->IsOpen())
            Fail("KvarnixMonitors trimfil kunde inte skapas ");
        else if (!CopyRange(m_logFd, 0, m_unchangedBytes, m_file->Get()))
            Fail(kTrimFileWriteFailed);
    }

    // Done while other processes may still append to the log, so the lock that keeps them
    // waiting need not be held while the bulk of the new log goes to disk.
    bool SyncData() {
        Settle();
        if (!Flush())
            return false;
        if (!m_file->SyncData())
            Fail(kTrimFileWriteFailed);
        return !HasFailed();
    }

    bool AppendRange(off_t begin, off_t end) {
        if (!CopyRange(m_logFd, begin, end, m_file->Get()))
            Fail(kTrimFileWriteFailed);
        return !HasFailed();
    }

    // The new log's version as it took the log's place; nothing when it could not, or when its
    // version cannot be told. The new file is closed here: in the log's place, its descriptor is
    // one of the log's, to be closed during the caller's turn at the log.
    std::optional<CFileVersion> TakePlaceOf(const QByteArray& logPath) {
        std::optional<CFileVersion> version;
        struct stat status;
        if (!m_file->Replace(logPath))
            Fail("KvarnixMonitors loggfil kunde inte ersättas ");
        else if (::fstat(m_file->Get(), &status) == 0)
            version = VersionOf(status);
        m_file.reset();
        return version;
    }

private:
    bool Flush() {
        if (!HasFailed() && !WriteAll(m_file->Get(), m_buffer))
            Fail(kTrimFileWriteFailed);
        m_buffer.resize(0); // keeps the capacity, so the buffer is allocated once
        return !HasFailed();
    }

    void Fail(const char* message) {
        if (!m_failure)
            m_failure = CFailure{message, errno};
    }

    int m_logFd;
    QByteArray m_namePrefix;
    mode_t m_mode;
    qint64 m_unchangedBytes = 0;
    std::optional<CReplacementFile> m_file;
    QByteArrayView m_run;
    QByteArray m_buffer;
    std::optional<CFailure> m_failure;
};

// Judges the log's lines as its bytes stream past and hands the kept ones on, in order. A line
// is judged by its first characters alone, so only those are held back until it is judged,
// however long the line.
class CLineFilter {
public:
    CLineFilter(QDate oldestKept, CTrimOutput& output)
        : m_oldestKept(oldestKept), m_output(output) {}

    QDate OldestDate() const { return m_oldestDate; }
    QDate LastDate() const { return m_lastDate; }
    bool EndedMidLine() const { return m_bEndedMidLine; }

    void Feed(QByteArrayView bytes) {
        while (!bytes.isEmpty()) {
            const qsizetype lineBreak = bytes.indexOf('\n');
            const bool endsLine = lineBreak >= 0;
            const QByteArrayView piece = endsLine ? bytes.first(lineBreak + 1) : bytes;
            bytes = bytes.sliced(piece.size());
            Take(piece, endsLine);
        }
    }

    // A last line without a line break is judged as it is, and gets one when it is kept: the
    // next line appended must not join it.
    void Finish() {
        m_bEndedMidLine = m_verdict != Verdict::Pending || !m_pending.isEmpty();
        if (!m_bEndedMidLine)
            return;
        if (m_verdict == Verdict::Pending) {
            Judge(m_pending);
            if (m_verdict == Verdict::Keep)
                m_output.Keep(m_pending);
        }
        if (m_verdict == Verdict::Keep) {
            m_output.Diverge();
            m_output.Keep("\n");
        }
    }

private:
    enum class Verdict { Pending, Keep, Drop };

    void Take(QByteArrayView piece, bool endsLine) {
        if (m_verdict == Verdict::Pending && !JudgeWith(piece, endsLine))
            return;
        if (m_verdict == Verdict::Keep)
            m_output.Keep(piece);
        if (endsLine) {
            m_verdict = Verdict::Pending;
            m_pending.clear();
        }
    }

    // False while the line's start is too short to judge; its bytes are then held back.
    bool JudgeWith(QByteArrayView piece, bool endsLine) {
        const QByteArrayView content = endsLine ? piece.chopped(1) : piece;
        if (m_pending.isEmpty() && (endsLine || content.size() >= kTimestampLength)) {
            Judge(content);
            return true;
        }
        const qsizetype held = m_pending.size();
        m_pending.append(content.first(std::min(content.size(), kTimestampLength - held)));
        if (!endsLine && m_pending.size() < kTimestampLength)
            return false;
        Judge(m_pending);
        if (m_verdict == Verdict::Keep)
            m_output.Keep(QByteArrayView(m_pending).first(held));
        return true;
    }

    void Judge(QByteArrayView lineStart) {
        const QDate date = DateOf(lineStart);
        if (!IsKept(lineStart, date, m_oldestKept)) {
            m_verdict = Verdict::Drop;
            m_output.Diverge();
            return;
        }
        m_verdict = Verdict::Keep;
        m_oldestDate = m_oldestDate.isValid() ? std::min(m_oldestDate, date) : date;
        m_lastDate = date;
    }

    // The lines of a day follow each other, so a line's date is mostly the one read last.
    QDate DateOf(QByteArrayView lineStart) {
        const QByteArrayView head = lineStart.first(std::min(lineStart.size(), kDateLength));
        if (head != m_lastHead) {
            m_lastHead = head.toByteArray();
            m_lastHeadDate = DateAtStart(head);
        }
        return m_lastHeadDate;
    }

    QDate m_oldestKept;
    CTrimOutput& m_output;
    QByteArray m_lastHead;
    QDate m_lastHeadDate;
    Verdict m_verdict = Verdict::Pending;
    QByteArray m_pending;
    QDate m_oldestDate;
    QDate m_lastDate;
    bool m_bEndedMidLine = false;
};

enum class StreamResult { Done, Shrunk, Failed };

StreamResult StreamLog(int fd, off_t size, CLineFilter& filter, CTrimOutput& output) {
    ::posix_fadvise(fd, 0, size, POSIX_FADV_SEQUENTIAL);
    QByteArray chunk(kChunkBytes, Qt::Uninitialized);
    for (off_t at = 0; at < size && !output.HasFailed();) {
        const qint64 got = ReadAt(fd, chunk.data(), std::min<qint64>(kChunkBytes, size - at), at);
        if (got < 0)
            return StreamResult::Failed;
        if (got == 0)
            return StreamResult::Shrunk;
        filter.Feed(QByteArrayView(chunk.constData(), got));
        output.Settle();
        at += got;
    }
    filter.Finish();
    return output.HasFailed() ? StreamResult::Failed : StreamResult::Done;
}

enum class TrimEnd { Done, LogReplaced, TimedOut, Failed };

// What one attempt at the trim comes to. When every line of the log it left was checked, it
// tells the log's version and the oldest and the last line's date.
struct CTrimOutcome {
    TrimEnd end;
    CFailure failure;
    std::optional<CFileVersion> checkedVersion;
    QDate oldestDate;
    QDate lastDate;
};

const CTrimOutcome kDoneUnchecked{TrimEnd::Done, {}, std::nullopt, QDate(), QDate()};
const CTrimOutcome kLogReplaced{TrimEnd::LogReplaced, {}, std::nullopt, QDate(), QDate()};
const CTrimOutcome kTimedOut{TrimEnd::TimedOut, {}, std::nullopt, QDate(), QDate()};

CTrimOutcome DoneChecked(const CFileVersion& version, QDate oldestDate, QDate lastDate) {
    return {TrimEnd::Done, {}, version, oldestDate, lastDate};
}

CTrimOutcome Failed(const CFailure& failure) {
    return {TrimEnd::Failed, failure, std::nullopt, QDate(), QDate()};
}

// One attempt at the trim of the file at the log's path as the attempt begins. The log is trimmed
// as it is then; lines appended while the trim reads it follow the trimmed lines as they were
// written, as if appended after the trim. The turn at the log is taken only to see where the log
// ends and, at the end, to take over what was appended meanwhile and put the new log in the
// log's place, so appends need not wait while the trim reads the log.
class CLogTrim {
public:
    CLogTrim(const QByteArray& logPath, QByteArray trimPath, std::chrono::milliseconds lockWait,
             std::timed_mutex& processTurn)
        : m_logPath(logPath), m_trimPath(std::move(trimPath)), m_lockWait(lockWait),
          m_log(processTurn) {}

    CTrimOutcome Run(int spanDays) {
        if (!m_log.Open(m_logPath, 0))
            return errno == ENOENT ? kDoneUnchecked : Failed({kOpenFailed, errno});
        if (const std::optional<CTrimOutcome> stop = WaitForTurn())
            return *stop;
        // Appends write whole lines during their turns, so the log seen in this one ends with
        // one.
        struct stat snapshot;
        const bool isStated = ::fstat(m_log.Get(), &snapshot) == 0;
        const int statError = errno;
        m_log.EndTurn();
        if (!isStated)
            return Failed({kReadFailed, statError});
        if (!S_ISREG(snapshot.st_mode))
            return Failed({"KvarnixMonitors loggfil är ingen vanlig fil och trimmades inte", 0});
        if (snapshot.st_size == 0)
            return DoneChecked(VersionOf(snapshot), QDate(), QDate());
        return Filter(snapshot, spanDays);
    }

private:
    // Nothing once it is this trim's turn at the log; otherwise what the attempt comes to.
    std::optional<CTrimOutcome> WaitForTurn() {
        switch (m_log.TakeTurn(m_logPath, QDeadlineTimer(m_lockWait))) {
        case LockResult::Locked:
            return std::nullopt;
        case LockResult::Replaced:
            return kLogReplaced;
        case LockResult::TimedOut:
            break;
        }
        Warn("KvarnixMonitors loggfil var låst för länge och trimmades inte");
        return kTimedOut;
    }

    CTrimOutcome Filter(const struct stat& snapshot, int spanDays) {
        const std::optional<QByteArray> lastLineHead = LastLineHead(m_log.Get(), snapshot.st_size);
        if (!lastLineHead)
            return Failed({kReadFailed, errno});
        CTrimOutput output(m_log.Get(), m_trimPath, snapshot.st_mode & 07777);
        CLineFilter filter(OldestKeptDate(DateAtStart(*lastLineHead), spanDays), output);
        const StreamResult streamed = StreamLog(m_log.Get(), snapshot.st_size, filter, output);
        const int readError = errno;
        switch (streamed) {
        case StreamResult::Done:
            break;
        case StreamResult::Shrunk:
            return kLogReplaced;
        case StreamResult::Failed:
            return Failed(output.HasFailed() ? output.Failure() : CFailure{kReadFailed, readError});
        }
        if (!output.HasDiverged())
            return DoneChecked(VersionOf(snapshot), filter.OldestDate(), filter.LastDate());
        if (!output.SyncData())
            return Failed(output.Failure());
        return PutInPlace(snapshot, filter, output);
    }

    // Returns during the turn at the log; the log's descriptor ends it as it closes.
    CTrimOutcome PutInPlace(const struct stat& snapshot, const CLineFilter& filter,
                            CTrimOutput& output) {
        if (const std::optional<CTrimOutcome> stop = WaitForTurn())
            return *stop;
        struct stat current;
        if (::fstat(m_log.Get(), &current) != 0 || current.st_size < snapshot.st_size)
            return kLogReplaced;
        off_t tailStart = snapshot.st_size;
        char firstTailByte;
        // The line break an append put before its line ended the log's unfinished last line,
        // which the trimmed log has ended already.
        if (filter.EndedMidLine() && current.st_size > tailStart &&
            ReadAt(m_log.Get(), &firstTailByte, 1, tailStart) == 1 && firstTailByte == '\n')
            ++tailStart;
        if (!output.AppendRange(tailStart, current.st_size))
            return Failed(output.Failure());
        const std::optional<CFileVersion> trimmed = output.TakePlaceOf(m_logPath);
        if (output.HasFailed())
            return Failed(output.Failure());
        // Lines appended meanwhile were taken over unchecked.
        if (!trimmed || current.st_size != snapshot.st_size)
            return kDoneUnchecked;
        return DoneChecked(*trimmed, filter.OldestDate(), filter.LastDate());
    }

    const QByteArray& m_logPath;
    QByteArray m_trimPath;
    std::chrono::milliseconds m_lockWait;
    CLogFile m_log;
};

} // namespace

CMonitorLog::CMonitorLog(QString logPath, QString trimPath, std::chrono::milliseconds lockWait)
    : m_logPath(std::move(logPath)), m_trimPath(std::move(trimPath)), m_lockWait(lockWait),
      m_processTurn(ProcessTurnAt(m_logPath)) {}

void CMonitorLog::SetFaultListener(std::function<void(const QString& problem)> listener) {
    m_faultListener = std::move(listener);
}

void CMonitorLog::AppendLogLine(const QString& text, const QDateTime& now) const {
    const QByteArray line = LogLine(text, now);
    const QByteArray logPath = QFile::encodeName(m_logPath);
    const QDeadlineTimer deadline(m_lockWait);
    for (;;) {
        CLogFile log(*m_processTurn);
        if (!log.Open(logPath, O_APPEND | O_CREAT)) {
            const int error = errno;
            m_checked.reset();
            NoteFailed(Task::Append, kOpenFailed, error);
            return;
        }
        switch (log.TakeTurn(logPath, deadline)) {
        case LockResult::Locked:
            break;
        case LockResult::Replaced:
            continue;
        case LockResult::TimedOut:
            qCWarning(lcLog).noquote()
                << QStringLiteral(
                       "KvarnixMonitors loggfil var låst för länge, raden skrevs inte: ") +
                       QString::fromUtf8(line.chopped(1));
            m_checked.reset();
            return;
        }
        const int error = WriteLocked(log.Get(), line);
        // The listener hears of the outcome after the turn.
        log.Close();
        if (error != 0) {
            m_checked.reset();
            NoteFailed(Task::Append, kWriteFailed, error);
        } else {
            NoteWorked(Task::Append);
        }
        return;
    }
}

// Taking turns with the other writers, the line lands whole in the file at the log's path, and
// the check for a line break before it sees the file as it is. 0 when the line was written,
// otherwise the error that kept it out.
int CMonitorLog::WriteLocked(int fd, const QByteArray& line) const {
    struct stat before;
    if (::fstat(fd, &before) != 0)
        return errno;
    // A log edited by hand may end without a line break; the new line must not join its last.
    const bool needsBreak = before.st_size > 0 && !EndsWithLineBreak(fd, before.st_size);
    const QByteArray bytes = needsBreak ? '\n' + line : line;
    if (!WriteAll(fd, bytes)) {
        const int error = errno;
        // A torn line would take the next one with it at the next trim.
        if (S_ISREG(before.st_mode) && ::ftruncate(fd, before.st_size) != 0)
            WarnWithCode("KvarnixMonitors loggfil kunde inte återställas ", errno);
        return error;
    }
    NoteAppend(before, fd, bytes);
    return 0;
}

// A log this object knew whole before the append is still known whole after it, with the
// appended line in it.
void CMonitorLog::NoteAppend(const struct stat& before, int fd, const QByteArray& line) const {
    const bool wasEmpty = before.st_size == 0;
    const bool wasKnown = wasEmpty || (m_checked && m_checked->version == VersionOf(before));
    const QDate date = KeptLineDate(line, QDate());
    struct stat after;
    if (!S_ISREG(before.st_mode) || !wasKnown || !date.isValid() || line.startsWith('\n') ||
        ::fstat(fd, &after) != 0) {
        m_checked.reset();
        return;
    }
    const QDate knownOldest = wasEmpty ? QDate() : m_checked->oldestDate;
    m_checked = CCheckedLog{VersionOf(after),
                            knownOldest.isValid() ? std::min(knownOldest, date) : date, date};
}

std::optional<QByteArray> CMonitorLog::ReadTail(const QString& logPath, qint64 maxBytes,
                                                QString& error) {
    const std::shared_ptr<std::timed_mutex> turn = ProcessTurnAt(logPath);
    const std::lock_guard<std::timed_mutex> lock(*turn);
    QFile file(logPath);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return std::nullopt;
    }
    const qint64 size = file.size();
    if (size > maxBytes && !file.seek(size - maxBytes)) {
        error = file.errorString();
        return std::nullopt;
    }
    QByteArray bytes = file.read(std::min(size, maxBytes));
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        return std::nullopt;
    }
    return bytes;
}

void CMonitorLog::TrimLog(int spanDays) const {
    const QByteArray logPath = QFile::encodeName(m_logPath);
    // A log known to keep everything is trimmed by doing nothing, which a trim that failed
    // before counts as working again.
    if (KeepsEverything(logPath, spanDays)) {
        NoteWorked(Task::Trim);
        return;
    }
    m_checked.reset();
    // Far less work than reading the log.
    RemoveLeftoverReplacements(m_trimPath);
    for (int attempt = 0; attempt < kTrimAttempts; ++attempt) {
        // Every descriptor of the log is closed when the attempt is over.
        const CTrimOutcome outcome =
            CLogTrim(logPath, QFile::encodeName(m_trimPath), m_lockWait, *m_processTurn)
                .Run(spanDays);
        switch (outcome.end) {
        case TrimEnd::LogReplaced:
            continue;
        case TrimEnd::Done:
            if (outcome.checkedVersion)
                m_checked =
                    CCheckedLog{*outcome.checkedVersion, outcome.oldestDate, outcome.lastDate};
            NoteWorked(Task::Trim);
            return;
        case TrimEnd::TimedOut:
            return;
        case TrimEnd::Failed:
            NoteFailed(Task::Trim, outcome.failure.message, outcome.failure.error);
            return;
        }
    }
    Warn("KvarnixMonitors loggfil ändrades under trimningen och trimmades inte");
}

// Only a log exactly as this object left it is judged without reading it.
bool CMonitorLog::KeepsEverything(const QByteArray& logPath, int spanDays) const {
    if (!m_checked || VersionAt(logPath) != m_checked->version)
        return false;
    return !m_checked->lastDate.isValid() ||
           m_checked->oldestDate >= OldestKeptDate(m_checked->lastDate, spanDays);
}

// One diagnostic line when a fault starts, none while it stands.
void CMonitorLog::NoteFailed(Task task, const char* message, int error) const {
    const QString problem = ProblemText(m_logPath, error);
    if (problem != ProblemOf(task) && problem != CurrentProblem())
        WarnWithCode(message, error);
    NoteProblem(task, problem);
}

void CMonitorLog::NoteWorked(Task task) const {
    NoteProblem(task, QString());
}

// The listener is called last, so that it may use this log.
void CMonitorLog::NoteProblem(Task task, const QString& problem) const {
    const QString before = CurrentProblem();
    ProblemOf(task) = problem;
    const QString now = CurrentProblem();
    if (now != before && m_faultListener)
        m_faultListener(now);
}

QString& CMonitorLog::ProblemOf(Task task) const {
    return task == Task::Append ? m_appendProblem : m_trimProblem;
}

const QString& CMonitorLog::CurrentProblem() const {
    return m_appendProblem.isEmpty() ? m_trimProblem : m_appendProblem;
}
