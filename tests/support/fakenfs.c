/* Makes a local folder behave like a network file system for the process it is preloaded
 * into (LD_PRELOAD), the way the Linux NFS client does:
 *   - statfs() and fstatfs() of anything below $KVARNIX_FAKE_NFS report the NFS magic, so the
 *     programs take the folder for a network share;
 *   - flock() on a file below it becomes a whole-file fcntl() lock, which belongs to the
 *     process rather than to the open file: closing any descriptor of the file drops it.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/vfs.h>
#include <unistd.h>

#define NFS_MAGIC 0x6969

static int IsBelowFakeShare(const char* path) {
    const char* share = getenv("KVARNIX_FAKE_NFS");
    char resolved[PATH_MAX];
    if (!share || !*share || !path || !realpath(path, resolved))
        return 0;
    const size_t length = strlen(share);
    return strncmp(resolved, share, length) == 0 &&
           (resolved[length] == '/' || resolved[length] == '\0');
}

static int IsDescriptorBelowFakeShare(int fd) {
    char link[64];
    char target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t size = readlink(link, target, sizeof target - 1);
    if (size <= 0)
        return 0;
    target[size] = '\0';
    return IsBelowFakeShare(target);
}

int statfs(const char* path, struct statfs* buffer) {
    static int (*real)(const char*, struct statfs*);
    if (!real)
        real = (int (*)(const char*, struct statfs*))dlsym(RTLD_NEXT, "statfs");
    const int result = real(path, buffer);
    if (result == 0 && IsBelowFakeShare(path))
        buffer->f_type = NFS_MAGIC;
    return result;
}

int statfs64(const char* path, struct statfs64* buffer) {
    static int (*real)(const char*, struct statfs64*);
    if (!real)
        real = (int (*)(const char*, struct statfs64*))dlsym(RTLD_NEXT, "statfs64");
    const int result = real(path, buffer);
    if (result == 0 && IsBelowFakeShare(path))
        buffer->f_type = NFS_MAGIC;
    return result;
}

int fstatfs(int fd, struct statfs* buffer) {
    static int (*real)(int, struct statfs*);
    if (!real)
        real = (int (*)(int, struct statfs*))dlsym(RTLD_NEXT, "fstatfs");
    const int result = real(fd, buffer);
    if (result == 0 && IsDescriptorBelowFakeShare(fd))
        buffer->f_type = NFS_MAGIC;
    return result;
}

int fstatfs64(int fd, struct statfs64* buffer) {
    static int (*real)(int, struct statfs64*);
    if (!real)
        real = (int (*)(int, struct statfs64*))dlsym(RTLD_NEXT, "fstatfs64");
    const int result = real(fd, buffer);
    if (result == 0 && IsDescriptorBelowFakeShare(fd))
        buffer->f_type = NFS_MAGIC;
    return result;
}

int flock(int fd, int operation) {
    static int (*real)(int, int);
    if (!real)
        real = (int (*)(int, int))dlsym(RTLD_NEXT, "flock");
    if (!IsDescriptorBelowFakeShare(fd))
        return real(fd, operation);
    struct flock lock;
    memset(&lock, 0, sizeof lock);
    lock.l_whence = SEEK_SET;
    switch (operation & ~LOCK_NB) {
    case LOCK_SH:
        lock.l_type = F_RDLCK;
        break;
    case LOCK_EX:
        lock.l_type = F_WRLCK;
        break;
    case LOCK_UN:
        lock.l_type = F_UNLCK;
        break;
    default:
        errno = EINVAL;
        return -1;
    }
    const int result = fcntl(fd, (operation & LOCK_NB) ? F_SETLK : F_SETLKW, &lock);
    if (result != 0 && (errno == EACCES || errno == EAGAIN))
        errno = EWOULDBLOCK;
    return result;
}
