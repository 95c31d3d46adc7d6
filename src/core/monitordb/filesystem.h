#pragma once

#include <QString>
#include <optional>

// SQLite's WAL mode keeps its index in shared memory, which processes on
// different hosts do not share over a network file system; on some (CIFS, some
// NFS and FUSE mounts) a WAL file even fails at its first write. A monitor
// database there is kept in rollback-journal mode.

// The file system type (statfs's f_type) of the folder, or nothing when it cannot be told.
std::optional<long> FileSystemTypeOf(const QString& folder);
// NFS, SMB/CIFS, FUSE, 9p and the other file systems that reach other hosts.
bool IsNetworkFileSystem(long fileSystemType);
// Whether the first bytes of a database file say it is in WAL mode; false for a short header.
bool IsWalHeader(const QByteArray& header);
