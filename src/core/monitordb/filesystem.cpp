#include "monitordb/filesystem.h"

#include <QFile>
#include <algorithm>
#include <sys/vfs.h>

namespace {

// From the kernel's magic numbers.
constexpr long kNetworkFileSystems[] = {
    0x6969,     // NFS
    0x517B,     // SMB
    0xFF534D42, // CIFS
    0xFE534D42, // SMB2
    0x65735546, // FUSE (sshfs, glusterfs, ...)
    0x01021997, // 9p
    0x73757245, // Coda
    0x5346414F, // AFS
    0x6B414653, // kAFS
    0x00C36400, // Ceph
    0x564C,     // NCP
    0x7461636F, // OCFS2
    0x01161970, // GFS2
    0x0BD00BD0, // Lustre
    0x786F4256, // VirtualBox shared folder
};

// Bytes 18 and 19 of the header are the write and read versions: 2 means WAL.
constexpr qint64 kVersionOffset = 18;

} // namespace

std::optional<long> FileSystemTypeOf(const QString& folder) {
    struct statfs status;
    if (::statfs(QFile::encodeName(folder).constData(), &status) != 0)
        return std::nullopt;
    return long(status.f_type);
}

bool IsNetworkFileSystem(long fileSystemType) {
    // f_type is signed on some platforms; compare the low 32 bits.
    const long type = fileSystemType & 0xFFFFFFFFL;
    return std::find(std::begin(kNetworkFileSystems), std::end(kNetworkFileSystems), type) !=
           std::end(kNetworkFileSystems);
}

bool IsWalHeader(const QByteArray& header) {
    return header.size() >= kVersionOffset + 2 && header.at(kVersionOffset) == 2 &&
           header.at(kVersionOffset + 1) == 2;
}
