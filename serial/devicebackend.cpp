#include "devicebackend.h"

#include "portholders.h"
#include "devicecheck.h"
#include "linerate.h"
#include "serialmode.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Reads on from `fd` (non-blocking) after `bytes`, into their spare room,
// until the driver has nothing more waiting or the room (at most `upTo`) is
// full. The line discipline holds only 4 KiB; a read that finds it empty
// waits for the driver's buffers to be pushed into it, so in a flood each
// read here brings the next 4 KiB without a turn of the event loop and a
// poll for it. QSerialPort hands its bytes over in an array with that room
// already, so nothing is allocated here.
// Errors and end of file are left for QSerialPort to meet on its next read.
void readWhatFollows(int fd, QByteArray &bytes, qsizetype upTo)
{
    const qsizetype end = std::min(bytes.capacity(), upTo);
    while (bytes.size() < end) {
        const qsizetype held = bytes.size();
        bytes.resize(end);
        const ssize_t n = ::read(fd, bytes.data() + held, size_t(end - held));
        bytes.resize(held + std::max<qsizetype>(n, 0));
        if (n <= 0)
            break;
    }
}

} // namespace

DeviceBackend::DeviceBackend(QObject *parent)
    : SerialBackend(parent)
{
    connect(&m_watch, &ModemLineWatch::linesChanged, this, &SerialBackend::linesChanged);
    connect(&m_watch, &ModemLineWatch::lost, this, &DeviceBackend::scheduleGone);
}

DeviceBackend::~DeviceBackend()
{
    close();
}

QString DeviceBackend::permissionDeniedReason(const QString &device)
{
    QString group;
    struct stat st;
    if (::stat(QFile::encodeName(device).constData(), &st) == 0) {
        if (const struct group *g = ::getgrgid(st.st_gid))
            group = QString::fromLocal8Bit(g->gr_name);
    }
    if (group.isEmpty())
        group = QStringLiteral("dialout");
    return QStringLiteral("%1: %2; to use this port the user must belong to the group \"%3\" that owns "
                          "the device (sudo usermod -aG %3 $USER, then log in again)")
        .arg(device, systemError(EACCES), group);
}

bool DeviceBackend::open(const OpenSettings &settings, QString *error)
{
    const QString &device = settings.device;
    // Open the node itself, not a by-id link to it, so that the lock file
    // names the same device whichever path another program used.
    const QString path = QFileInfo(device).canonicalFilePath();
    if (path.isEmpty()) {
        *error = QStringLiteral("%1: %2").arg(device, systemError(ENOENT));
        return false;
    }
    if (const QString why = NotSerialDeviceReason(path); !why.isEmpty()) {
        *error = QStringLiteral("%1: %2").arg(device, why);
        return false;
    }

    const SerialMode &mode = *settings.mode;
    auto *serial = new QSerialPort(this);
    serial->setPortName(path);
    serial->setBaudRate(mode.baudRate);
    serial->setParity(mode.parity);
    serial->setDataBits(mode.dataBits);
    serial->setStopBits(mode.stopBits);
    serial->setFlowControl(settings.flow == 1   ? QSerialPort::SoftwareControl
                           : settings.flow == 2 ? QSerialPort::HardwareControl
                                                : QSerialPort::NoFlowControl);
    // Unlimited: received data is handed on at once.
    serial->setReadBufferSize(0);

    if (!serial->open(QIODevice::ReadWrite)) {
        const int savedErrno = errno;
        const QSerialPort::SerialPortError failure = serial->error();
        const QString detail = serial->errorString();
        delete serial;
        const QByteArray node = QFile::encodeName(path);
        if (failure == QSerialPort::PermissionError || savedErrno == EACCES || savedErrno == EBUSY
            || detail == systemError(EBUSY)) {
            if (::access(node.constData(), R_OK | W_OK) != 0 && errno == EACCES)
                *error = permissionDeniedReason(device);
            else
                // Who holds it, so the user knows what to close.
                *error = QStringLiteral("%1: the port is in use by another program (%2)\n%3")
                             .arg(device, detail, PortHolders::explain(path));
        } else if (failure == QSerialPort::UnsupportedOperationError) {
            *error = QStringLiteral("%1: the device cannot use the mode \"%2\" (%3)")
                         .arg(device, settings.modeText, detail);
        } else {
            *error = QStringLiteral("%1: %2").arg(device, detail);
        }
        return false;
    }

    // A rate outside a device's reach is not refused by the open: the driver
    // quietly runs at another one, which would garble every byte.
    if (const QString why = LineRateRefusal(int(serial->handle()), mode.baudRate); !why.isEmpty()) {
        serial->close();
        delete serial;
        *error = QStringLiteral("%1: %2").arg(device, why);
        return false;
    }

    m_serial = serial;
    m_path = path;
    m_flow = settings.flow;
    m_failedReads = 0;
    m_gonePending = false;
    connect(serial, &QSerialPort::readyRead, this, &DeviceBackend::onReadyRead);
    connect(serial, &QSerialPort::errorOccurred, this, &DeviceBackend::onPortError);
    connect(serial, &QSerialPort::bytesWritten, this, &DeviceBackend::onBytesWritten);

    m_watch.attach(int(serial->handle()));
    setDtr(settings.dtr);
    setRts(settings.rts);
    m_watch.start();

    // Bytes may already be waiting (sent before the port was opened).
    if (serial->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &DeviceBackend::onReadyRead, Qt::QueuedConnection);
    return true;
}

QByteArray DeviceBackend::close()
{
    m_watch.detach();
    m_unwritten.clear();
    m_unwrittenCount = 0;
    if (!m_serial)
        return QByteArray();
    QSerialPort *serial = m_serial;
    m_serial = nullptr;
    serial->disconnect(this);
    // What QSerialPort has read but not yet handed on is the caller's.
    QByteArray left = serial->readAll();
    serial->close();
    // This may run inside one of the port's own signals, so it is deleted
    // from the event loop.
    serial->deleteLater();
    return left;
}

void DeviceBackend::setDtr(bool on)
{
    m_watch.setLine(TIOCM_DTR, on);
}

void DeviceBackend::setRts(bool on)
{
    if (m_flow != 2) // with RTS/CTS handshaking the driver owns RTS
        m_watch.setLine(TIOCM_RTS, on);
}

int DeviceBackend::lines() const
{
    return m_watch.lines();
}

void DeviceBackend::write(const QByteArray &bytes)
{
    if (!m_serial)
        return;
    // Buffered inside QSerialPort, written as the line takes it.
    const qint64 taken = m_serial->write(bytes);
    if (taken > 0) {
        m_unwritten.push_back(taken == bytes.size() ? bytes : bytes.left(taken));
        m_unwrittenCount += taken;
        emit pendingChanged();
    }
}

void DeviceBackend::onBytesWritten()
{
    if (!m_serial)
        return;
    // QSerialPort lets go of a chunk as it writes it but tells so only a turn
    // of the event loop later. Worked out from what it still holds rather
    // than from the signal's count, so that no write is missed or told twice.
    qint64 written = m_unwrittenCount - m_serial->bytesToWrite();
    if (written <= 0)
        return;
    QByteArray bytes;
    m_unwrittenCount -= written;
    while (written > 0 && !m_unwritten.empty()) {
        QByteArray &front = m_unwritten.front();
        if (front.size() <= written) {
            written -= front.size();
            bytes += front;
            m_unwritten.pop_front();
        } else {
            bytes += front.left(written);
            front.remove(0, written);
            written = 0;
        }
    }
    emit sent(bytes);
    emit pendingChanged();
}

void DeviceBackend::drop()
{
    if (!m_serial)
        return;
    // Empties QSerialPort's buffer and flushes the driver's (TCOFLUSH).
    m_serial->clear(QSerialPort::Output);
    m_unwritten.clear();
    m_unwrittenCount = 0;
    emit pendingChanged();
}

bool DeviceBackend::setBreak(bool on)
{
    return m_serial && m_serial->setBreakEnabled(on);
}

bool DeviceBackend::errorCounters(LineObserver::ErrorCounters *counters) const
{
    if (!m_serial)
        return false;
    serial_icounter_struct c{};
    if (::ioctl(int(m_serial->handle()), TIOCGICOUNT, &c) != 0)
        return false;
    counters->overrun = quint32(c.overrun);
    counters->bufferOverrun = quint32(c.buf_overrun);
    counters->parity = quint32(c.parity);
    counters->framing = quint32(c.frame);
    counters->breaks = quint32(c.brk);
    return true;
}

void DeviceBackend::onReadyRead()
{
    if (!m_serial)
        return;
    QByteArray bytes = m_serial->readAll();
    if (bytes.isEmpty())
        return;
    m_failedReads = 0;
    readWhatFollows(int(m_serial->handle()), bytes, MaxReceiveBlock);
    emit received(bytes);
}

void DeviceBackend::onPortError(QSerialPort::SerialPortError error)
{
    if (!m_serial || error == QSerialPort::NoError)
        return;
    const QString detail = m_serial->errorString();
    if (error == QSerialPort::ResourceError) {
        scheduleGone(detail);
    } else if (error == QSerialPort::ReadError || error == QSerialPort::WriteError) {
        // A read that finds end of file is reported as a plain read error; a
        // hung-up terminal (far end gone, adapter unplugged) says so in poll().
        // QSerialPort's text for it then carries a stale errno, so none is given.
        // A read error that repeats without any data in between is a device
        // that only answers end of file, which would otherwise keep the event
        // loop spinning.
        pollfd p{int(m_serial->handle()), POLLIN | POLLOUT, 0};
        const bool hungUp = ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
        if (hungUp || (error == QSerialPort::ReadError && ++m_failedReads >= MaxFailedReads))
            scheduleGone(QString());
    }
    if (m_serial)
        m_serial->clearError();
}

void DeviceBackend::scheduleGone(const QString &reason)
{
    if (!m_serial || m_gonePending)
        return;
    m_gonePending = true;
    m_watch.stop();
    // Told from the event loop, away from QSerialPort's own signal, and only
    // if this same port is still open by then.
    QMetaObject::invokeMethod(
        this,
        [this, reason, port = QPointer<QSerialPort>(m_serial)] {
            m_gonePending = false;
            if (port && port == m_serial)
                emit gone(reason);
        },
        Qt::QueuedConnection);
}
