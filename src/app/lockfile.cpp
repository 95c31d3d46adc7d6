#include "lockfile.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Closes the descriptor on every path out; Close() reports what close() says,
// since a failed close may be the first sign that the name never reached the disk.
class CFileDescriptor {
public:
    explicit CFileDescriptor(int fd) : m_fd(fd) {}
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;
    ~CFileDescriptor() { Close(); }

    bool IsValid() const { return m_fd >= 0; }
    int Get() const { return m_fd; }
    bool Close() {
        if (m_fd < 0)
            return true;
        const int result = ::close(m_fd);
        m_fd = -1;
        return result == 0;
    }

private:
    int m_fd;
};

bool WriteAll(int fd, const QByteArray& data) {
    const char* next = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return false;
        if (written == 0) {
            errno = EIO;
            return false;
        }
        next += written;
        left -= written;
    }
    return true;
}

QString WithoutLineEnd(QByteArray line) {
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
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
    if (!WriteAll(file.Get(), name.toUtf8()) || !file.Close()) {
        SetError(QStringLiteral("skrivas"), qt_error_string(errno));
        ::unlink(path.constData());
        return CreateResult::Failed;
    }
    return CreateResult::Created;
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
