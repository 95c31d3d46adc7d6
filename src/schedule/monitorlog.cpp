#include "monitorlog.h"

#include "app/diagnostics.h"

#include <QByteArrayView>
#include <QDate>
#include <QFile>
#include <QList>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <iterator>
#include <optional>
#include <unistd.h>
#include <utility>

namespace {

// '0' stands for any decimal digit.
constexpr char kTimestampShape[] = "0000-00-00 00:00:00";
constexpr qsizetype kTimestampLength = sizeof(kTimestampShape) - 1;

void WarnWithCode(const char* message, int code) {
    qCWarning(lcLog).noquote() << QString::fromUtf8(message) + QString::number(code);
}

class CFileDescriptor {
public:
    explicit CFileDescriptor(int fd) : m_fd(fd) {}
    ~CFileDescriptor() {
        if (IsOpen())
            ::close(m_fd);
    }
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    int Get() const { return m_fd; }
    // Closing explicitly reports what the destructor would swallow: some file systems only
    // report a failed write at close.
    bool Close() { return ::close(std::exchange(m_fd, -1)) == 0; }

private:
    int m_fd;
};

bool WriteAll(int fd, QByteArrayView data) {
    while (!data.isEmpty()) {
        const ssize_t written = ::write(fd, data.data(), size_t(data.size()));
        if (written < 0 && errno != EINTR)
            return false;
        if (written > 0)
            data = data.sliced(written);
    }
    return true;
}

ssize_t ReadSome(int fd, char* buffer, size_t size) {
    ssize_t count;
    do
        count = ::read(fd, buffer, size);
    while (count < 0 && errno == EINTR);
    return count;
}

std::optional<QByteArray> ReadLog(const QByteArray& path) {
    const CFileDescriptor file(::open(path.constData(), O_RDONLY | O_CLOEXEC));
    QByteArray content;
    char buffer[1 << 16];
    ssize_t count = -1;
    if (file.IsOpen()) {
        while ((count = ReadSome(file.Get(), buffer, sizeof buffer)) > 0)
            content.append(buffer, count);
    }
    if (count < 0) {
        WarnWithCode("KvarnixMonitors loggfil kunde inte läsas ", errno);
        return std::nullopt;
    }
    return content;
}

// The trimmed log on its way to replacing the log. Unless it took the log's place it is removed
// again, so a failed trim leaves nothing behind.
class CTrimFile {
public:
    explicit CTrimFile(QByteArray path)
        : m_path(std::move(path)),
          m_file(::open(m_path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)),
          m_bCreated(m_file.IsOpen()) {}
    ~CTrimFile() {
        if (m_bCreated && !m_bReplaced)
            ::unlink(m_path.constData());
    }
    CTrimFile(const CTrimFile&) = delete;
    CTrimFile& operator=(const CTrimFile&) = delete;

    bool IsOpen() const { return m_file.IsOpen(); }

    // The data must be on disk before the rename, or a crash soon after it could leave an empty
    // log in place of the old one.
    bool WriteDurably(QByteArrayView content) {
        return WriteAll(m_file.Get(), content) && ::fsync(m_file.Get()) == 0 && m_file.Close();
    }

    // rename() replaces the target in one step: a crash leaves the old log or the new one, whole.
    bool Replace(const QByteArray& target) {
        m_bReplaced = ::rename(m_path.constData(), target.constData()) == 0;
        return m_bReplaced;
    }

private:
    QByteArray m_path;
    CFileDescriptor m_file;
    bool m_bCreated;
    bool m_bReplaced = false;
};

void ReplaceLog(const QByteArray& logPath, const QByteArray& trimPath, QByteArrayView content) {
    CTrimFile trimFile(trimPath);
    if (!trimFile.IsOpen())
        WarnWithCode("KvarnixMonitors trimfil kunde inte skapas ", errno);
    else if (!trimFile.WriteDurably(content))
        WarnWithCode("KvarnixMonitors trimfil kunde inte skrivas ", errno);
    else if (!trimFile.Replace(logPath))
        WarnWithCode("KvarnixMonitors loggfil kunde inte ersättas ", errno);
}

// A last line without a line break counts as a line.
QList<QByteArrayView> SplitLines(QByteArrayView text) {
    QList<QByteArrayView> lines;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        lines.append(text.sliced(start, end - start));
        start = end + 1;
    }
    return lines;
}

QByteArray JoinLines(const QList<QByteArrayView>& lines) {
    qsizetype size = 0;
    for (const QByteArrayView line : lines)
        size += line.size() + 1;
    QByteArray text;
    text.reserve(size);
    for (const QByteArrayView line : lines)
        text.append(line).append('\n');
    return text;
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

// Read as atoi reads a field: its leading digits, 0 when there are none.
int LeadingNumber(QByteArrayView line, qsizetype from, qsizetype count) {
    const qsizetype end = std::min(line.size(), from + count);
    int number = 0;
    for (qsizetype i = from; i < end && IsDigit(line[i]); ++i)
        number = number * 10 + (line[i] - '0');
    return number;
}

QDate DateAtStart(QByteArrayView line) {
    return QDate(LeadingNumber(line, 0, 4), LeadingNumber(line, 5, 2), LeadingNumber(line, 8, 2));
}

// Counted in calendar days on the date, so a daylight-saving change inside the span shifts
// nothing. A negative span would drop even the newest line; it keeps the last day instead.
QDate OldestKeptDate(QByteArrayView lastLine, int spanDays) {
    return DateAtStart(lastLine).addDays(-qint64(std::max(spanDays, 0)));
}

// A line whose own date is no date cannot be aged and goes; without a valid oldest date (the last
// line carries no date) nothing goes for its age.
bool IsKept(QByteArrayView line, QDate oldestKept) {
    if (!HasTimestampShape(line))
        return false;
    const QDate date = DateAtStart(line);
    return date.isValid() && (!oldestKept.isValid() || date >= oldestKept);
}

// The first and the last line of the log, read from its two ends; empty when
// the log is too short for that to save anything or ends without a line break.
std::optional<std::pair<QByteArray, QByteArray>> OuterLines(const QByteArray& path) {
    constexpr qint64 kEndBytes = 4096;
    QFile log(QFile::decodeName(path));
    if (!log.open(QIODevice::ReadOnly) || log.size() < 4 * kEndBytes)
        return std::nullopt;
    const QByteArray head = log.read(kEndBytes);
    if (!log.seek(log.size() - kEndBytes))
        return std::nullopt;
    const QByteArray tail = log.read(kEndBytes);
    const qsizetype firstEnd = head.indexOf('\n');
    const qsizetype lastStart = tail.lastIndexOf('\n', tail.size() - 2);
    if (firstEnd < 0 || lastStart < 0 || !tail.endsWith('\n'))
        return std::nullopt;
    return std::make_pair(head.left(firstEnd), tail.sliced(lastStart + 1).chopped(1));
}

// The log is written in time order: when its first line is well formed and
// recent enough, no line is old enough to go, and a line of another shape
// waits for the next trim that has to rewrite the log anyway.
bool NothingOldEnough(const QByteArray& path, int spanDays) {
    const auto outer = OuterLines(path);
    return outer && IsKept(outer->first, OldestKeptDate(outer->second, spanDays));
}

} // namespace

CMonitorLog::CMonitorLog(QString logPath, QString trimPath)
    : m_logPath(std::move(logPath)), m_trimPath(std::move(trimPath)) {}

void CMonitorLog::AppendLogLine(const QString& text, const QDateTime& now) const {
    const QByteArray line =
        (now.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss - ")) + text + u'\n')
            .toUtf8();
    // Append mode puts the line at the end even when another process wrote to the log meanwhile.
    const CFileDescriptor log(::open(QFile::encodeName(m_logPath).constData(),
                                     O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (!log.IsOpen())
        WarnWithCode("KvarnixMonitors loggfil kunde inte öppnas ", errno);
    else if (!WriteAll(log.Get(), line))
        WarnWithCode("KvarnixMonitors loggfil kunde inte skrivas ", errno);
}

void CMonitorLog::TrimLog(int spanDays) const {
    if (!QFile::exists(m_logPath))
        return;
    const QByteArray logPath = QFile::encodeName(m_logPath);
    if (NothingOldEnough(logPath, spanDays))
        return;
    const std::optional<QByteArray> content = ReadLog(logPath);
    if (!content)
        return;
    const QList<QByteArrayView> lines = SplitLines(*content);
    if (lines.isEmpty())
        return;
    const QDate oldestKept = OldestKeptDate(lines.constLast(), spanDays);
    QList<QByteArrayView> kept;
    kept.reserve(lines.size());
    std::copy_if(lines.cbegin(), lines.cend(), std::back_inserter(kept),
                 [&](QByteArrayView line) { return IsKept(line, oldestKept); });
    // A last line without its line break is also rewritten, or the next line would be glued to it.
    if (kept.size() == lines.size() && content->endsWith('\n'))
        return;
    ReplaceLog(logPath, QFile::encodeName(m_trimPath), JoinLines(kept));
}
