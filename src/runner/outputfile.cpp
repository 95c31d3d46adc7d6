#include "outputfile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Output beyond the kept MiB is let grow this much before the file is cut again, so that a
// steady stream costs a copy of the MiB only every quarter MiB.
constexpr off_t kSlackBytes = off_t(1) << 18;
constexpr size_t kCopyChunk = 16 * 1024;

} // namespace

COutputFile::COutputFile(const std::string& path)
    : m_fd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0664)) {}

void COutputFile::Append(const char* data, size_t size) {
    if (!IsOpen())
        return;
    while (size > 0) {
        const ssize_t written = ::pwrite(m_fd.Get(), data, size, m_size);
        if (written < 0 && errno == EINTR)
            continue;
        // A full disk loses output, never the run's record.
        if (written <= 0)
            return;
        data += written;
        size -= size_t(written);
        m_size += written;
    }
    if (m_size > kKeptBytes + kSlackBytes)
        KeepTail();
}

void COutputFile::Finish() {
    if (IsOpen() && m_size > kKeptBytes)
        KeepTail();
}

// In place, front to back: the bytes kept always lie behind the place they move to.
void COutputFile::KeepTail() {
    char chunk[kCopyChunk];
    const off_t from = m_size - kKeptBytes;
    for (off_t done = 0; done < kKeptBytes;) {
        const size_t wanted = size_t(std::min<off_t>(off_t(sizeof chunk), kKeptBytes - done));
        const ssize_t got = ::pread(m_fd.Get(), chunk, wanted, from + done);
        if (got <= 0 || ::pwrite(m_fd.Get(), chunk, size_t(got), done) != got)
            return;
        done += got;
    }
    if (::ftruncate(m_fd.Get(), kKeptBytes) == 0)
        m_size = kKeptBytes;
}
