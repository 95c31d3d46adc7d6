#include "base/sharedfile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {

// One piece of a copy; the copy of a file of any size needs no more memory than this.
constexpr qint64 kCopyBytes = 1 << 20;
// Short at first, as the lock is mostly held for a few milliseconds; longer while it lasts.
constexpr std::chrono::milliseconds kFirstLockPause(1);
constexpr std::chrono::milliseconds kLongestLockPause(32);

bool operator==(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool TryLock(int fd) {
    int result;
    do
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    return result == 0;
}

bool IsStillAt(int fd, const QByteArray& path) {
    struct stat opened;
    struct stat current;
    return ::fstat(fd, &opened) == 0 && ::lstat(path.constData(), &current) == 0 &&
           opened.st_dev == current.st_dev && opened.st_ino == current.st_ino;
}

} // namespace

bool CFileVersion::operator==(const CFileVersion& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified == other.modified && changed == other.changed;
}

CFileVersion VersionOf(const struct stat& status) {
    return {status.st_dev, status.st_ino, status.st_size, status.st_mtim, status.st_ctim};
}

std::optional<CFileVersion> VersionAt(const QByteArray& path) {
    struct stat status;
    if (::lstat(path.constData(), &status) != 0)
        return std::nullopt;
    return VersionOf(status);
}

LockResult LockAsFileAt(int fd, const QByteArray& path, const QDeadlineTimer& deadline) {
    std::chrono::milliseconds pause = kFirstLockPause;
    while (!TryLock(fd)) {
        if (errno != EWOULDBLOCK || deadline.hasExpired())
            return LockResult::TimedOut;
        std::this_thread::sleep_for(
            std::min<std::chrono::nanoseconds>(pause, deadline.remainingTimeAsDuration()));
        pause = std::min(pause * 2, kLongestLockPause);
    }
    if (IsStillAt(fd, path))
        return LockResult::Locked;
    ::flock(fd, LOCK_UN);
    return deadline.hasExpired() ? LockResult::TimedOut : LockResult::Replaced;
}

bool WriteAll(int fd, QByteArrayView data) {
    while (!data.isEmpty()) {
        const ssize_t written = ::write(fd, data.data(), size_t(data.size()));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        data = data.sliced(written);
    }
    return true;
}

qint64 ReadAt(int fd, char* buffer, qint64 size, off_t offset) {
    qint64 done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, buffer + done, size_t(size - done), offset + done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

bool CopyRange(int from, off_t begin, off_t end, int to) {
    if (end <= begin)
        return true;
    QByteArray buffer(std::min(kCopyBytes, qint64(end - begin)), Qt::Uninitialized);
    for (off_t at = begin; at < end;) {
        const qint64 got = ReadAt(from, buffer.data(), std::min(kCopyBytes, qint64(end - at)), at);
        if (got <= 0) {
            if (got == 0)
                errno = EIO; // the file got shorter than the range
            return false;
        }
        if (!WriteAll(to, QByteArrayView(buffer.constData(), got)))
            return false;
        at += got;
    }
    return true;
}

CReplacementFile::CReplacementFile(const QByteArray& namePrefix, mode_t mode)
    : m_path(namePrefix + ".XXXXXX") {
    m_file.Reset(::mkostemp(m_path.data(), O_CLOEXEC));
    // mkostemp() leaves the file to its owner alone; the file it replaces may be open to more.
    // A file system without permission bits keeps its own, which is no reason to fail.
    if (IsOpen())
        ::fchmod(m_file.Get(), mode);
}

CReplacementFile::~CReplacementFile() {
    if (IsOpen() && !m_bReplaced)
        ::unlink(m_path.constData());
}

bool CReplacementFile::SyncData() {
    const off_t end = ::lseek(m_file.Get(), 0, SEEK_CUR);
    if (end >= 0 && end == m_syncedEnd)
        return true;
    if (::fdatasync(m_file.Get()) != 0)
        return false;
    m_syncedEnd = end;
    return true;
}

bool CReplacementFile::Replace(const QByteArray& target) {
    m_bReplaced = SyncData() && ::flock(m_file.Get(), LOCK_EX) == 0 &&
                  ::rename(m_path.constData(), target.constData()) == 0;
    return m_bReplaced;
}
