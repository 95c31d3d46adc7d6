#include "files/lockfile.h"

#include "base/diagnostics.h"
#include "base/filedescriptor.h"
#include "base/sharedfile.h"

#include <QFile>
#include <QSysInfo>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Far more than a name, a process id and a host name take; a larger file is no
// lock this program wrote, and is not read to its end.
constexpr qsizetype kLongestLockFile = 64 * 1024;

// The process that wrote a lock file, as its second and third lines name it.
struct LockWriter {
    pid_t pid;
    QString host;
};

QString WithoutLineEnd(QByteArray line) {
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

QByteArray LockContent(const QString& name) {
    return name.toUtf8() + '\n' + QByteArray::number(::getpid()) + '\n' +
           QSysInfo::machineHostName().toUtf8() + '\n';
}

// An unreadable file reads as empty, which names no writer.
QByteArray ReadAtMost(int fd, qsizetype limit) {
    QByteArray content;
    char buffer[512];
    while (content.size() < limit) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return {};
        if (got == 0)
            break;
        content.append(buffer, got);
    }
    return content;
}

// Nothing for a file written before the process id and host were kept. A process
// id of 0 or below would make kill() address a whole process group.
std::optional<LockWriter> ParseWriter(const QByteArray& content) {
    const QList<QByteArray> lines = content.split('\n');
    if (lines.size() < 3)
        return std::nullopt;
    bool isNumber = false;
    const int pid = lines.at(1).trimmed().toInt(&isNumber);
    if (!isNumber || pid <= 0)
        return std::nullopt;
    return LockWriter{pid, QString::fromUtf8(lines.at(2).trimmed())};
}

// Only a missing process is proof: a process of another user (EPERM) still runs,
// and a process id from another host says nothing about the processes here.
bool IsGone(const LockWriter& writer) {
    return writer.host == QSysInfo::machineHostName() && ::kill(writer.pid, 0) != 0 &&
           errno == ESRCH;
}

bool LockExclusively(int fd) {
    int result;
    do
        result = ::flock(fd, LOCK_EX);
    while (result != 0 && errno == EINTR);
    return result == 0;
}

// Neither removed nor replaced since it was opened.
bool IsStillAt(int fd, const QByteArray& path) {
    struct stat opened;
    struct stat current;
    return ::fstat(fd, &opened) == 0 && ::lstat(path.constData(), &current) == 0 &&
           opened.st_dev == current.st_dev && opened.st_ino == current.st_ino;
}

} // namespace

CLockFile::CLockFile(QString path) : m_path(std::move(path)) {}

bool CLockFile::Exists() const {
    struct stat status;
    return ::lstat(QFile::encodeName(m_path).constData(), &status) == 0;
}

std::optional<QString> CLockFile::ReadName() {
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        SetError(QStringLiteral("läsas"), file.errorString());
        return std::nullopt;
    }
    const QByteArray line = file.readLine();
    if (file.error() != QFileDevice::NoError) {
        SetError(QStringLiteral("läsas"), file.errorString());
        return std::nullopt;
    }
    return WithoutLineEnd(line);
}

CLockFile::CreateResult CLockFile::CreateWithName(const QString& name) {
    const QByteArray path = QFile::encodeName(m_path);
    CFileDescriptor file(::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!file.IsValid()) {
        if (errno == EEXIST)
            return CreateResult::AlreadyExists;
        SetError(QStringLiteral("skapas"), qt_error_string(errno));
        return CreateResult::Failed;
    }
    if (!WriteAll(file.Get(), LockContent(name)) || !file.Close()) {
        SetError(QStringLiteral("skrivas"), qt_error_string(errno));
        ::unlink(path.constData());
        return CreateResult::Failed;
    }
    return CreateResult::Created;
}

// Two starts may find the same stale lock. They take turns through a lock on the
// file itself, and each removes it only while it is still the file it read: the
// later one must never remove the lock the earlier one has created meanwhile. The
// creation that follows still decides alone who runs.
CLockFile::StaleResult CLockFile::RemoveIfStale() {
    const QByteArray path = QFile::encodeName(m_path);
    CFileDescriptor file(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!file.IsValid())
        return errno == ENOENT ? StaleResult::Removed : StaleResult::Held;
    if (!LockExclusively(file.Get()))
        return StaleResult::Held;
    if (!IsStillAt(file.Get(), path))
        return Exists() ? StaleResult::Held : StaleResult::Removed;
    const std::optional<LockWriter> writer = ParseWriter(ReadAtMost(file.Get(), kLongestLockFile));
    if (!writer || !IsGone(*writer))
        return StaleResult::Held;
    if (::unlink(path.constData()) != 0) {
        SetError(QStringLiteral("tas bort"), qt_error_string(errno));
        return StaleResult::Failed;
    }
    qCInfo(lcInstance).noquote() << "Låsfilen" << m_path << "togs bort: process" << writer->pid
                                 << "på" << writer->host << "körs inte längre";
    return StaleResult::Removed;
}

bool CLockFile::Remove() {
    if (::unlink(QFile::encodeName(m_path).constData()) == 0)
        return true;
    SetError(QStringLiteral("tas bort"), qt_error_string(errno));
    return false;
}

void CLockFile::SetError(const QString& whatFailed, const QString& reason) {
    m_errorText = QStringLiteral("Låsfilen %1 kunde inte %2: %3").arg(m_path, whatFailed, reason);
}
