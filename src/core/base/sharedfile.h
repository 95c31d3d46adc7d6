#pragma once

#include "base/filedescriptor.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDeadlineTimer>
#include <optional>
#include <sys/stat.h>

// A file that other processes read and write too: telling whether it changed, taking turns at
// it, and replacing it whole.

// What stat() tells of a file's content. A file replaced, written or touched since reads as
// another version; so does one whose permissions or owner changed, which costs only a needless
// read.
struct CFileVersion {
    dev_t device;
    ino_t inode;
    off_t size;
    timespec modified;
    timespec changed;

    bool operator==(const CFileVersion& other) const;
    bool operator!=(const CFileVersion& other) const { return !(*this == other); }
};

CFileVersion VersionOf(const struct stat& status);
// Of the entry at path itself: a link there is not the file it leads to.
std::optional<CFileVersion> VersionAt(const QByteArray& path);

enum class LockResult { Locked, Replaced, TimedOut };

// Waits until fd holds the exclusive flock() lock, then checks that it still is the file at path
// (a link there is not the file): a process that replaced the file meanwhile held the lock of the
// old one. On Replaced and TimedOut the descriptor holds no lock; Replaced is returned only while
// the deadline has not passed, so a caller that opens the file again does not go on for ever.
LockResult LockAsFileAt(int fd, const QByteArray& path, const QDeadlineTimer& deadline);

bool WriteAll(int fd, QByteArrayView data);
// Reads up to size bytes at offset; fewer only at the end of the file, -1 on an error.
qint64 ReadAt(int fd, char* buffer, qint64 size, off_t offset);
// Appends the bytes [begin, end) of one file to another, in pieces of bounded size.
bool CopyRange(int from, off_t begin, off_t end, int to);

// The new content of a file on its way to replacing it: a file beside the target under a fresh
// name that no file or link had (created exclusively, so nothing planted there can be written
// through), removed again unless it took the target's place.
class CReplacementFile {
public:
    // The file is named namePrefix + a unique suffix and gets the given permission bits.
    CReplacementFile(const QByteArray& namePrefix, mode_t mode);
    ~CReplacementFile();
    CReplacementFile(const CReplacementFile&) = delete;
    CReplacementFile& operator=(const CReplacementFile&) = delete;

    bool IsOpen() const { return m_file.IsValid(); }
    int Get() const { return m_file.Get(); }
    // Waits until the written data and the size are on disk. The file is written from its start
    // on, through its own descriptor's position: nothing written since the last sync, nothing to
    // wait for.
    bool SyncData();
    // Puts the data on disk, locks the file (flock) and renames it to target in one step: a
    // crash leaves the old target or the new one, whole. The lock lasts while this object lives,
    // so the caller may read the new file's state before anyone who takes turns at it writes.
    bool Replace(const QByteArray& target);

private:
    QByteArray m_path;
    CFileDescriptor m_file;
    off_t m_syncedEnd = -1;
    bool m_bReplaced = false;
};
