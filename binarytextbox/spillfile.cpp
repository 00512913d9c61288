#include "spillfile.h"

#include "scratchfile.h"

#include <QDir>

#include <cerrno>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// Calls `io` (a pread or pwrite of the bytes from `done` on) until all
// `length` bytes are done, again after an interrupt. Returns the bytes done:
// fewer when it failed, with errno set (EIO when no byte went).
template<typename Io>
qsizetype transferAll(qsizetype length, Io io)
{
    qsizetype done = 0;
    while (done < length) {
        const ssize_t n = io(done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            break;
        }
        done += n;
    }
    return done;
}

} // namespace

SpillFile::~SpillFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SpillFile::open(const QString &folder)
{
    if (m_fd >= 0)
        return true;
    m_folder = folder;
    if (!QDir().mkpath(folder)) {
        m_error = QStringLiteral("cannot make %1").arg(folder);
        return false;
    }
    m_fd = openUnlinkedFile(folder, "received");
    if (m_fd < 0) {
        m_error = folderError(folder, errno);
        return false;
    }
    m_end = 0;
    m_error.clear();
    return true;
}

qint64 SpillFile::freeSpace() const
{
    struct statvfs st;
    if (m_fd < 0 || ::fstatvfs(m_fd, &st) != 0)
        return -1;
    return qint64(st.f_bavail) * qint64(st.f_frsize);
}

qint64 SpillFile::write(const char *bytes, qsizetype length)
{
    if (m_fd < 0) {
        m_error = QStringLiteral("no file");
        return -1;
    }
    const qint64 free = freeSpace();
    if (free >= 0 && free - length < m_reserve) {
        m_error = QStringLiteral("disk nearly full (%1 MiB free in %2)").arg(free / (1024 * 1024)).arg(m_folder);
        return -1;
    }
    const qint64 offset = m_end;
    const qsizetype done = transferAll(
        length, [&](qsizetype at) { return ::pwrite(m_fd, bytes + at, size_t(length - at), off_t(offset + at)); });
    if (done < length) {
        m_error = errno == ENOSPC ? QStringLiteral("disk full (%1)").arg(m_folder) : folderError(m_folder, errno);
        // What got written is of no use: give the space back.
        if (done > 0)
            release(offset, done);
        return -1;
    }
    m_end += length;
    m_error.clear();
    return offset;
}

bool SpillFile::read(qint64 offset, qsizetype length, char *out)
{
    const qsizetype done = transferAll(
        length, [&](qsizetype at) { return ::pread(m_fd, out + at, size_t(length - at), off_t(offset + at)); });
    if (done < length) {
        m_error = folderError(m_folder, errno);
        return false;
    }
    return true;
}

void SpillFile::release(qint64 offset, qsizetype length)
{
    if (m_fd < 0 || length <= 0)
        return;
    // Not every file system can punch holes; the space then comes back when
    // the file is closed.
    ::fallocate(m_fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, off_t(offset), off_t(length));
}
