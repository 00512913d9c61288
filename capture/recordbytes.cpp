#include "recordbytes.h"

#include "pcapng.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
// Large enough that a read costs little per event, small enough to stay in
// the cache while its events are visited.
constexpr qint64 kReadSpan = 4 * 1024 * 1024;
} // namespace

RecordBytes::RecordBytes(const SessionRecord &record)
    : m_record(record)
{
    const QByteArray path = QFile::encodeName(record.spoolPath());
    m_fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        m_error = QString::fromLocal8Bit(std::strerror(errno));
}

RecordBytes::~RecordBytes()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

namespace {
bool hasBytes(const RecordEvent &e)
{
    return e.length > 0 && !(e.flags & RecordEvent::FlagLost);
}
} // namespace

bool RecordBytes::forEach(qint64 first, qint64 end, const Visit &visit)
{
    end = std::min(end, m_record.committedCount());
    qint64 i = std::max<qint64>(first, 0);
    while (i < end) {
        const RecordEvent head = m_record.event(i);
        if (!hasBytes(head)) {
            if (!visit(i, head, {}))
                return false;
            ++i;
            continue;
        }
        // The events whose bytes lie within one read span from event i's;
        // the spool holds them in record order.
        const qint64 spanStart = head.offset + Pcapng::PayloadOffset;
        qint64 spanEnd = spanStart + head.length;
        qint64 j = i + 1;
        for (; j < end; ++j) {
            const RecordEvent e = m_record.event(j);
            if (!hasBytes(e))
                continue;
            const qint64 bytesEnd = e.offset + Pcapng::PayloadOffset + e.length;
            if (bytesEnd - spanStart > kReadSpan)
                break;
            spanEnd = bytesEnd;
        }
        const qint64 length = spanEnd - spanStart;
        if (m_buffer.size() < length)
            m_buffer.resize(qsizetype(length));
        qint64 done = 0;
        while (done < length) {
            if (m_fd < 0)
                return false;
            const ssize_t n = ::pread(m_fd, m_buffer.data() + done, size_t(length - done), off_t(spanStart + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_error = n < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                                : QStringLiteral("the spool file is shorter than its index");
                return false;
            }
            done += n;
        }
        for (; i < j; ++i) {
            const RecordEvent e = m_record.event(i);
            QByteArrayView bytes;
            if (hasBytes(e))
                bytes = QByteArrayView(m_buffer.constData() + (e.offset + Pcapng::PayloadOffset - spanStart),
                                       qsizetype(e.length));
            if (!visit(i, e, bytes))
                return false;
        }
    }
    return true;
}
