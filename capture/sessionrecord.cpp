#include "sessionrecord.h"

#include "pcapng.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>

namespace {

// What is received is written to the spool by the first event that comes
// this long after the last write, so that a steady line's flushes ride on the
// wake-ups its data brings. A timer writes the tail when no such event comes;
// it waits the slack longer, or on a line whose events come every few
// milliseconds it would fire just before the event that was to write anyway
// (a coarse timer may fire early), and wake the program for nothing.
constexpr int FlushIntervalMs = 50;
constexpr int TailSlackMs = 25;
// Written at once, outside the timer, when the buffer grows past this.
constexpr qint64 EagerFlushBytes = 256 << 10;
// The buffer's room, kept for the record's life: one block more than the
// eager flush leaves, and a long comment. Never giving it back keeps the
// allocator from raising its threshold for mapped blocks, after which the
// receive path's short-lived large buffers would come from the heap and
// leave it fragmented and grown.
constexpr qsizetype PendingCapacity = EagerFlushBytes + Pcapng::MaxPayload + (16 << 10);
// Below this much free space the status line warns.
constexpr qint64 LowSpaceBytes = qint64(64) << 20;
constexpr int SpaceCheckIntervalMs = 1000;
// Older index chunks looked at per space check, to drop the pages a reader
// (a save, a search) faulted back in: a week's record goes round in a minute.
constexpr qint64 ReleaseChunksPerCheck = 16;

qint64 realtimeNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

QString onOff(bool on)
{
    return on ? QStringLiteral("on") : QStringLiteral("off");
}

QString handshakeName(int handshake)
{
    switch (handshake) {
    case 0:
        return QStringLiteral("none");
    case 1:
        return QStringLiteral("XON/XOFF");
    case 2:
        return QStringLiteral("RTS/CTS");
    case 3:
        return QStringLiteral("none, RTS off");
    default:
        return QString::number(handshake);
    }
}

QString countersText(const LineObserver::ErrorCounters &c)
{
    return QStringLiteral("overrun %1, buffer overrun %2, parity %3, framing %4, break %5")
        .arg(c.overrun)
        .arg(c.bufferOverrun)
        .arg(c.parity)
        .arg(c.framing)
        .arg(c.breaks);
}

bool lockFree(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

} // namespace

SessionRecord::SessionRecord(const QString &directory, QObject *parent)
    : QObject(parent)
{
    m_startMono = LineObserver::now();
    m_startWallNs = realtimeNs();

    const QString dir = directory.isEmpty() ? defaultDirectory() : directory;
    if (!QDir().mkpath(dir)) {
        m_error = QStringLiteral("%1: cannot create the folder").arg(dir);
        return;
    }
    // The index lives beside the spool, out of resident memory but for its
    // newest part (a failure shows when the first events come).
    m_index.useScratchFile(dir);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    for (int n = 0; n < 100 && m_fd < 0; ++n) {
        m_path = QDir(dir).filePath(QStringLiteral("session-%1-%2%3.pcapng")
                                        .arg(stamp)
                                        .arg(QCoreApplication::applicationPid())
                                        .arg(n ? QStringLiteral("-%1").arg(n) : QString()));
        m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (m_fd < 0 && errno != EEXIST)
            break;
    }
    if (m_fd < 0) {
        m_error = QStringLiteral("%1: %2").arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    // Held for the record's life: a spool whose lock is free is an orphan.
    ::flock(m_fd, LOCK_EX | LOCK_NB);

    m_pending.reserve(PendingCapacity);
    m_pending += Pcapng::fileHeader(headerComment());
    m_flushTimer.setInterval(FlushIntervalMs + TailSlackMs);
    m_flushTimer.setSingleShot(true);
    connect(&m_flushTimer, &QTimer::timeout, this, &SessionRecord::flush);
    m_spaceTimer.setInterval(SpaceCheckIntervalMs);
    connect(&m_spaceTimer, &QTimer::timeout, this, [this] {
        checkFreeSpace();
        m_index.releaseOld(ReleaseChunksPerCheck);
    });
    m_spaceTimer.start();
    flush();
}

SessionRecord::~SessionRecord()
{
    if (m_fd < 0)
        return;
    flush();
    if (!m_keep)
        ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_fd);
}

QString SessionRecord::defaultDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/NerovaPortlark");
}

QStringList SessionRecord::orphanedSpools(const QString &directory)
{
    const QDir dir(directory.isEmpty() ? defaultDirectory() : directory);
    QStringList found;
    const auto files = dir.entryInfoList({QStringLiteral("session-*.pcapng")}, QDir::Files, QDir::Name);
    for (const QFileInfo &f : files)
        if (lockFree(f.absoluteFilePath()))
            found << f.absoluteFilePath();
    return found;
}

QDateTime SessionRecord::startTime() const
{
    return QDateTime::fromMSecsSinceEpoch(m_startWallNs / 1000000);
}

QString SessionRecord::headerComment() const
{
    const QDateTime start = startTime();
    return QStringLiteral("Portlark session started %1")
        .arg(start.toOffsetFromUtc(start.offsetFromUtc()).toString(Qt::ISODateWithMs));
}

RecordEvent SessionRecord::event(qint64 i) const
{
    if (i < 0 || i >= m_index.size())
        return {};
    return m_index[i];
}

void SessionRecord::append(quint8 kind, qint64 time, const QByteArray &payload, const QString &comment)
{
    if (m_fd < 0)
        return;
    if (m_needMarker) {
        // The first event after a failed write says what was lost before it.
        m_needMarker = false;
        m_marker = std::exchange(m_unreported, Lost());
        m_markerPending = true;
        append(RecordEvent::NotKept, time, QByteArray(),
               QStringLiteral("Not kept (disk full): %1 events, %2 bytes received, %3 bytes sent")
                   .arg(m_marker.events)
                   .arg(m_marker.received)
                   .arg(m_marker.sent));
    }

    RecordEvent e;
    e.time = time;
    e.offset = m_flushed.load(std::memory_order_relaxed) + m_pending.size();
    e.length = RecordEvent::isDataKind(kind) ? quint32(payload.size()) : 0;
    e.kind = kind;
    e.lines = m_lines;
    m_index.append(e);
    if (m_index.memoryOnlyChunks() != m_indexInMemory)
        reportIndexInMemory();

    Pcapng::appendPacket(m_pending, wallTimeNs(time), rtacEventType(kind), m_lines, payload.constData(), e.length,
                         comment);
    if (m_pending.size() >= EagerFlushBytes)
        writePending();
    if (m_sinceFlush.elapsed() >= FlushIntervalMs)
        flush();
    else if (!m_flushTimer.isActive())
        m_flushTimer.start();
}

void SessionRecord::reportIndexInMemory()
{
    m_indexInMemory = m_index.memoryOnlyChunks();
    emit storageProblem(QStringLiteral("Session record: its index is held in memory, the scratch file cannot grow (%1)")
                            .arg(m_index.storageError()));
}

void SessionRecord::markNotKept(qint64 time, const QString &comment)
{
    append(RecordEvent::NotKept, time, QByteArray(), comment);
}

quint8 SessionRecord::rtacEventType(quint8 kind) const
{
    switch (kind) {
    case RecordEvent::Received:
        return Pcapng::DataRxStart;
    case RecordEvent::Sent:
        return Pcapng::DataTxStart;
    case RecordEvent::BreakSent:
        return Pcapng::SerialBreak;
    case RecordEvent::NotKept:
        return Pcapng::CaptureDataLost;
    case RecordEvent::Errors:
        return m_errorEventType;
    default:
        return Pcapng::StatusChange;
    }
}

void SessionRecord::portOpened(qint64 time, const QString &device, const QString &mode, int handshake, bool reopened)
{
    m_mode = mode;
    m_haveCounters = false;
    append(reopened ? RecordEvent::Reopened : RecordEvent::Opened, time, QByteArray(),
           QStringLiteral("Port %1: %2, %3, handshake %4")
               .arg(reopened ? QStringLiteral("reopened") : QStringLiteral("opened"), device, mode,
                    handshakeName(handshake)));
}

void SessionRecord::portClosed(qint64 time)
{
    append(RecordEvent::Closed, time, QByteArray(), QStringLiteral("Port closed"));
    m_lines = 0;
}

void SessionRecord::portLost(qint64 time, const QString &reason)
{
    append(RecordEvent::PortLost, time, QByteArray(),
           reason.isEmpty() ? QStringLiteral("Port lost") : QStringLiteral("Port lost: %1").arg(reason));
    m_lines = 0;
}

void SessionRecord::appendData(quint8 kind, qint64 time, const QByteArray &bytes)
{
    if (bytes.size() <= Pcapng::MaxPayload) {
        if (!bytes.isEmpty())
            append(kind, time, bytes, QString());
        return;
    }
    for (qsizetype at = 0; at < bytes.size(); at += Pcapng::MaxPayload)
        append(kind, time, bytes.mid(at, Pcapng::MaxPayload), QString());
}

void SessionRecord::bytesReceived(qint64 time, const QByteArray &bytes)
{
    appendData(RecordEvent::Received, time, bytes);
}

void SessionRecord::bytesSent(qint64 time, const QByteArray &bytes)
{
    appendData(RecordEvent::Sent, time, bytes);
}

void SessionRecord::outputLines(qint64 time, bool dtr, bool rts)
{
    m_lines = quint8((m_lines & ~(RecordEvent::Dtr | RecordEvent::Rts)) | (dtr ? RecordEvent::Dtr : 0)
                     | (rts ? RecordEvent::Rts : 0));
    append(RecordEvent::OutputLines, time, QByteArray(), linesText(RecordEvent::OutputLines, m_lines));
}

void SessionRecord::inputLines(qint64 time, bool cts, bool dsr, bool cd, bool ri)
{
    const quint8 in = RecordEvent::Cts | RecordEvent::Dsr | RecordEvent::Cd | RecordEvent::Ri;
    m_lines = quint8((m_lines & ~in) | (cts ? RecordEvent::Cts : 0) | (dsr ? RecordEvent::Dsr : 0)
                     | (cd ? RecordEvent::Cd : 0) | (ri ? RecordEvent::Ri : 0));
    append(RecordEvent::InputLines, time, QByteArray(), linesText(RecordEvent::InputLines, m_lines));
}

void SessionRecord::errorCounters(qint64 time, const ErrorCounters &c)
{
    QStringList grew;
    m_errorEventType = Pcapng::StatusChange;
    if (m_haveCounters) {
        const ErrorCounters &p = m_lastCounters;
        // The header has one event type: the first kind of error that grew.
        auto note = [&](quint32 now, quint32 before, const char *name, quint8 type) {
            if (now > before) {
                grew << QStringLiteral("+%1 %2").arg(now - before).arg(QLatin1String(name));
                if (m_errorEventType == Pcapng::StatusChange)
                    m_errorEventType = type;
            }
        };
        note(c.framing, p.framing, "framing", Pcapng::FramingError);
        note(c.parity, p.parity, "parity", Pcapng::ParityError);
        note(c.breaks, p.breaks, "break", Pcapng::SerialBreak);
        note(c.overrun, p.overrun, "overrun", Pcapng::SerialOverflow);
        note(c.bufferOverrun, p.bufferOverrun, "buffer overrun", Pcapng::SerialOverflow);
    }
    m_lastCounters = c;
    m_haveCounters = true;
    QString text = QStringLiteral("Line errors: %1").arg(countersText(c));
    if (!grew.isEmpty())
        text += QStringLiteral(" (%1)").arg(grew.join(QStringLiteral(", ")));
    append(RecordEvent::Errors, time, QByteArray(), text);
}

void SessionRecord::noErrorCounters(qint64 time)
{
    append(RecordEvent::NoErrorCounters, time, QByteArray(),
           QStringLiteral("Line errors: this device keeps no error counters"));
}

void SessionRecord::breakSent(qint64 time, int milliseconds)
{
    append(RecordEvent::BreakSent, time, QByteArray(), QStringLiteral("Break sent, %1 ms").arg(milliseconds));
}

QString SessionRecord::linesText(quint8 kind, quint8 lines)
{
    auto on = [lines](quint8 bit) { return onOff(lines & bit); };
    if (kind == RecordEvent::OutputLines)
        return QStringLiteral("DTR %1, RTS %2").arg(on(RecordEvent::Dtr), on(RecordEvent::Rts));
    return QStringLiteral("CTS %1, DSR %2, CD %3, RI %4")
        .arg(on(RecordEvent::Cts), on(RecordEvent::Dsr), on(RecordEvent::Cd), on(RecordEvent::Ri));
}

bool SessionRecord::readSpool(qint64 offset, char *to, qint64 length) const
{
    const qint64 flushed = m_flushed.load(std::memory_order_acquire);
    if (offset >= flushed) {
        // Still in memory (only ever read on the record's own thread).
        const qint64 at = offset - flushed;
        if (at + length > m_pending.size())
            return false;
        std::memcpy(to, m_pending.constData() + at, size_t(length));
        return true;
    }
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::pread(m_fd, to + done, size_t(length - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QByteArray SessionRecord::payload(qint64 i) const
{
    if (i < 0 || i >= m_index.size())
        return {};
    const RecordEvent &e = m_index[i];
    if (e.length == 0 || (e.flags & RecordEvent::FlagLost))
        return {};
    QByteArray out(qsizetype(e.length), Qt::Uninitialized);
    if (!readSpool(e.offset + Pcapng::PayloadOffset, out.data(), e.length))
        return {};
    return out;
}

QByteArray SessionRecord::spoolBlock(qint64 i) const
{
    if (i < 0 || i >= m_index.size())
        return {};
    const RecordEvent &e = m_index[i];
    if (e.flags & RecordEvent::FlagLost)
        return {};
    char head[8];
    if (!readSpool(e.offset, head, 8))
        return {};
    const qint64 total = qFromLittleEndian<quint32>(head + 4);
    if (total < Pcapng::PayloadOffset + 4 || total > qint64(e.length) + (1 << 20))
        return {};
    QByteArray block(qsizetype(total), Qt::Uninitialized);
    if (!readSpool(e.offset, block.data(), total))
        return {};
    return block;
}

QString SessionRecord::describe(qint64 i) const
{
    if (i < 0 || i >= m_index.size())
        return QString();
    const RecordEvent &e = m_index[i];
    QString text;
    switch (e.kind) {
    case RecordEvent::Received:
        text = QStringLiteral("Received %1 bytes").arg(e.length);
        break;
    case RecordEvent::Sent:
        text = QStringLiteral("Sent %1 bytes").arg(e.length);
        break;
    case RecordEvent::OutputLines:
    case RecordEvent::InputLines:
        text = linesText(e.kind, e.lines);
        break;
    default:
        text = Pcapng::packetComment(spoolBlock(i));
        break;
    }
    if (e.flags & RecordEvent::FlagLost)
        text += text.isEmpty() ? QStringLiteral("Not kept (disk full)") : QStringLiteral(" (not kept: disk full)");
    return text;
}

bool SessionRecord::writePending()
{
    if (m_pending.isEmpty())
        return true;
    const qint64 start = m_flushed.load(std::memory_order_relaxed);
    qint64 done = 0;
    int error = 0;
    while (done < m_pending.size()) {
        const ssize_t n
            = ::pwrite(m_fd, m_pending.constData() + done, size_t(m_pending.size() - done), off_t(start + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += n;
    }
    if (error == 0) {
        m_pending.truncate(0); // the room stays
        m_flushed.store(start + done, std::memory_order_release);
        m_committed.store(m_index.size(), std::memory_order_release);
        if (m_writeFailed) {
            m_writeFailed = false;
            emit storageProblem(QString());
        }
        m_markerPending = false;
        return true;
    }

    // Half a block would spoil the file for every reader: cut it back to the
    // last whole block and mark what was waiting as lost.
    // (Should the cut fail, the next write overwrites the part from `start`.)
    if (done > 0 && ::ftruncate(m_fd, off_t(start)) != 0) {
    }
    const qint64 first = m_committed.load(std::memory_order_relaxed);
    for (qint64 i = first; i < m_index.size(); ++i) {
        RecordEvent &e = m_index[i];
        e.flags |= RecordEvent::FlagLost;
        if (e.kind == RecordEvent::NotKept)
            continue;
        const qint64 length = e.length;
        const Lost lost{e.kind == RecordEvent::Received ? length : 0, e.kind == RecordEvent::Sent ? length : 0, 1};
        m_lost += lost;
        m_unreported += lost;
    }
    if (m_markerPending) {
        // The marker itself was lost with what it reported: report it again.
        m_unreported += m_marker;
        m_markerPending = false;
    }
    m_pending.truncate(0);
    m_committed.store(m_index.size(), std::memory_order_release);
    m_needMarker = true;
    m_writeFailed = true;
    emit storageProblem(QStringLiteral("Session record: cannot write to %1 (%2); %3 bytes received, "
                                       "%4 bytes sent not kept")
                            .arg(QFileInfo(m_path).absolutePath(), QString::fromLocal8Bit(std::strerror(error)))
                            .arg(m_lost.received)
                            .arg(m_lost.sent));
    return false;
}

void SessionRecord::checkFreeSpace()
{
    struct statvfs st
    {};
    if (::fstatvfs(m_fd, &st) != 0)
        return;
    const qint64 free = qint64(st.f_bavail) * qint64(st.f_frsize);
    const bool low = free < LowSpaceBytes;
    if (low == m_spaceLow || m_writeFailed)
        return;
    m_spaceLow = low;
    emit storageProblem(low ? QStringLiteral("Session record: disk nearly full (%1 MiB free in %2)")
                                  .arg(free >> 20)
                                  .arg(QFileInfo(m_path).absolutePath())
                            : QString());
}

void SessionRecord::flush()
{
    if (m_fd < 0)
        return;
    m_flushTimer.stop();
    m_sinceFlush.start();
    writePending();
    const qint64 committed = m_committed.load(std::memory_order_relaxed);
    if (committed > m_announced) {
        const qint64 first = m_announced;
        m_announced = committed;
        emit eventsAppended(first, committed - first);
    }
}
