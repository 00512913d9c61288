#include "realserialportcontrol.h"

#include "comportmap.h"
#include "loopbackplug.h"
#include "serialmode.h"

#include <QFileInfo>
#include <QMetaObject>

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

// Errors of a modem-line ioctl that mean the device has no such lines (a
// pseudo-terminal answers ENOTTY), as opposed to a device that is gone.
bool isNoModemLines(int error)
{
    return error == ENOTTY || error == EINVAL || error == ENOTSUP;
}

bool isDeviceGone(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
}

} // namespace

RealSerialPortControl::RealSerialPortControl(const ComPortMap *map, QObject *parent)
    : SerialPortControl(parent), m_map(map)
{
    m_linePoll.setInterval(LinePollInterval);
    connect(&m_linePoll, &QTimer::timeout, this, &RealSerialPortControl::pollLines);
    m_counterPoll.setInterval(ErrorCounterInterval);
    connect(&m_counterPoll, &QTimer::timeout, this, &RealSerialPortControl::pollErrorCounters);
    m_breakTimer.setSingleShot(true);
    connect(&m_breakTimer, &QTimer::timeout, this, &RealSerialPortControl::endBreak);
}

RealSerialPortControl::~RealSerialPortControl()
{
    // The observer may be gone already; the control's own end tells it nothing.
    setLineObserver(nullptr);
    m_quietClose = true;
    close();
}

void RealSerialPortControl::PortNumber(int number)
{
    m_port = number;
}

int RealSerialPortControl::PortNumber() const
{
    return m_port;
}

void RealSerialPortControl::ModeSettings(const QString &mode)
{
    m_mode = mode;
}

QString RealSerialPortControl::ModeSettings() const
{
    return m_mode;
}

void RealSerialPortControl::FlowControl(int mode)
{
    m_flow = mode;
}

int RealSerialPortControl::FlowControl() const
{
    return m_flow;
}

void RealSerialPortControl::DtrEnabled(bool enabled)
{
    m_dtr = enabled;
    if (m_plug)
        m_plug->setDtr(enabled);
    else if (m_serial)
        setModemLine(TIOCM_DTR, enabled);
    if (IsOpen())
        reportOutputLines();
}

bool RealSerialPortControl::DtrEnabled() const
{
    return m_dtr;
}

void RealSerialPortControl::RtsEnabled(bool enabled)
{
    m_rts = enabled;
    if (m_plug)
        m_plug->setRts(enabled);
    else if (m_serial && m_flow != 2) // with RTS/CTS handshaking the driver owns RTS
        setModemLine(TIOCM_RTS, enabled);
    if (IsOpen())
        reportOutputLines();
}

bool RealSerialPortControl::RtsEnabled() const
{
    return m_rts;
}

void RealSerialPortControl::IsOpen(bool open)
{
    close();
    if (open)
        this->open();
}

bool RealSerialPortControl::IsOpen() const
{
    return m_serial || m_plug;
}

bool RealSerialPortControl::CarrierDetect() const
{
    if (m_plug)
        return m_plug->carrierDetect();
    return readLines() & LineState::Cd;
}

bool RealSerialPortControl::ClearToSend() const
{
    if (m_plug)
        return m_plug->clearToSend();
    return readLines() & LineState::Cts;
}

bool RealSerialPortControl::DataSetReady() const
{
    if (m_plug)
        return m_plug->dataSetReady();
    return readLines() & LineState::Dsr;
}

int RealSerialPortControl::EventCode() const
{
    return m_event;
}

qint64 RealSerialPortControl::InputCount() const
{
    return m_inputCount;
}

QByteArray RealSerialPortControl::ReadInput()
{
    if (m_input.empty())
        return QByteArray();
    QByteArray chunk = std::move(m_input.front());
    m_input.pop_front();
    m_inputCount -= chunk.size();
    return chunk;
}

void RealSerialPortControl::WriteOutput(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (m_plug) {
        // The plug takes the bytes at once: they are on its wire.
        if (LineObserver *observer = lineObserver())
            observer->bytesSent(LineObserver::now(), bytes);
        m_plug->write(bytes);
        setPending(m_plug->bytesInFlight());
    } else if (m_serial) {
        // Buffered inside QSerialPort, written as the line takes it.
        const qint64 taken = m_serial->write(bytes);
        if (taken > 0) {
            m_unwritten.push_back(taken == bytes.size() ? bytes : bytes.left(taken));
            m_unwrittenCount += taken;
        }
        setPending(m_unwrittenCount);
    }
}

void RealSerialPortControl::onBytesWritten()
{
    if (!m_serial)
        return;
    // Worked out from what QSerialPort still holds rather than from the
    // signal's count, so that no write can be missed or told twice.
    qint64 written = m_unwrittenCount - m_serial->bytesToWrite();
    if (written > 0) {
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
        if (LineObserver *observer = lineObserver())
            observer->bytesSent(LineObserver::now(), bytes);
    }
    setPending(m_unwrittenCount);
}

void RealSerialPortControl::setPending(qint64 bytes)
{
    if (bytes == m_pendingTold)
        return;
    m_pendingTold = bytes;
    emit OutputPendingChanged(bytes);
}

void RealSerialPortControl::DropOutput()
{
    if (m_plug) {
        m_plug->dropInFlight();
        setPending(m_plug->bytesInFlight());
    } else if (m_serial) {
        // Empties QSerialPort's buffer and flushes the driver's (TCOFLUSH).
        m_serial->clear(QSerialPort::Output);
        m_unwritten.clear();
        m_unwrittenCount = 0;
        setPending(0);
    }
}

bool RealSerialPortControl::SendBreak(int milliseconds)
{
    if (!IsOpen() || milliseconds <= 0 || m_breakTimer.isActive())
        return false;
    if (m_plug)
        m_plug->sendBreak();
    else if (!m_serial->setBreakEnabled(true))
        return false;
    if (LineObserver *observer = lineObserver())
        observer->breakSent(LineObserver::now(), milliseconds);
    m_breakTimer.start(milliseconds);
    return true;
}

void RealSerialPortControl::endBreak()
{
    if (m_serial)
        m_serial->setBreakEnabled(false);
}

QString RealSerialPortControl::LastError() const
{
    return m_error;
}

QString RealSerialPortControl::DeviceName() const
{
    if (IsOpen())
        return m_device;
    return m_map ? m_map->device(m_port) : QString();
}

qint64 RealSerialPortControl::OutputPending() const
{
    if (m_plug)
        return m_plug->bytesInFlight();
    // QSerialPort lets go of a chunk as it writes it but tells so only a turn
    // of the event loop later; counted from what it has told, so that the
    // figure and OutputPendingChanged agree with what the observer was told.
    return m_serial ? m_unwrittenCount : 0;
}

void RealSerialPortControl::reportOpened()
{
    m_inputsTold = -1;
    m_countersTold = false;
    m_noCounters = false;
    m_counters = LineObserver::ErrorCounters();
    if (LineObserver *observer = lineObserver())
        observer->portOpened(LineObserver::now(), m_openedPath, m_mode, m_flow,
                             m_reopening);
    reportOutputLines();
    if (m_plug) {
        reportInputLines((m_plug->carrierDetect() ? LineState::Cd : 0) | (m_plug->clearToSend() ? LineState::Cts : 0)
                         | (m_plug->dataSetReady() ? LineState::Dsr : 0));
        // The plug keeps counters of its own: nothing but breaks ever raises them.
        m_countersTold = true;
        if (LineObserver *observer = lineObserver())
            observer->errorCounters(LineObserver::now(), m_counters);
    } else {
        reportInputLines(m_noModemLines ? 0 : m_lastLines.lines);
        pollErrorCounters();
        if (!m_noCounters)
            m_counterPoll.start();
    }
}

void RealSerialPortControl::reportOutputLines()
{
    if (LineObserver *observer = lineObserver())
        observer->outputLines(LineObserver::now(), m_dtr, m_rts);
}

void RealSerialPortControl::reportInputLines(int lines)
{
    if (lines == m_inputsTold)
        return;
    m_inputsTold = lines;
    if (LineObserver *observer = lineObserver())
        observer->inputLines(LineObserver::now(), lines & LineState::Cts, lines & LineState::Dsr,
                             lines & LineState::Cd, lines & LineState::Ring);
}

void RealSerialPortControl::pollErrorCounters()
{
    if (!m_serial || m_noCounters)
        return;
    serial_icounter_struct c{};
    if (::ioctl(int(m_serial->handle()), TIOCGICOUNT, &c) != 0) {
        // A device that never answered keeps none; one that stops answering
        // is going away, which the line watch reports.
        if (!m_countersTold) {
            m_noCounters = true;
            m_counterPoll.stop();
            if (LineObserver *observer = lineObserver())
                observer->noErrorCounters(LineObserver::now());
        }
        return;
    }
    LineObserver::ErrorCounters counters;
    counters.overrun = quint32(c.overrun);
    counters.bufferOverrun = quint32(c.buf_overrun);
    counters.parity = quint32(c.parity);
    counters.framing = quint32(c.frame);
    counters.breaks = quint32(c.brk);
    if (m_countersTold && counters == m_counters)
        return;
    m_countersTold = true;
    m_counters = counters;
    if (LineObserver *observer = lineObserver())
        observer->errorCounters(LineObserver::now(), counters);
}

void RealSerialPortControl::onLoopbackBreak()
{
    // A receiving UART in raw mode gives a break as one 0x00 byte and counts it.
    ++m_counters.breaks;
    if (LineObserver *observer = lineObserver())
        observer->errorCounters(LineObserver::now(), m_counters);
    takeInput(QByteArray(1, '\0'));
    announceInput();
}

QString RealSerialPortControl::permissionDeniedReason(const QString &device)
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

bool RealSerialPortControl::open()
{
    m_error.clear();
    m_device.clear();
    m_noModemLines = false;
    m_lastLines = LineState();
    m_failedReads = 0;

    if (m_port < 1 || m_port > ComPortMap::MaxCom) {
        setOpenFailure(QStringLiteral("COM%1: there is no such port number (1 to %2)")
                           .arg(m_port).arg(ComPortMap::MaxCom));
        return false;
    }
    m_device = m_map ? m_map->device(m_port) : QString();
    if (m_device.isEmpty()) {
        setOpenFailure(QStringLiteral("COM%1: no device is assigned to this port number; map one in the "
                                      "[%2] section of the settings file (COM%1=/dev/ttyUSB0, or "
                                      "COM%1=loopback for the built-in loopback plug)")
                           .arg(m_port).arg(ComPortMap::SettingsGroup));
        return false;
    }

    QString why;
    const std::optional<SerialMode> mode = SerialMode::parse(m_mode, &why);
    if (!mode) {
        setOpenFailure(QStringLiteral("%1: cannot use the mode \"%2\": %3").arg(m_device, m_mode, why));
        return false;
    }

    if (m_device == ComPortMap::Loopback)
        return openLoopback();

    // Open the node itself, not a by-id link to it, so that the lock file
    // names the same device whichever path another program used.
    const QString path = QFileInfo(m_device).canonicalFilePath();
    if (path.isEmpty()) {
        setOpenFailure(QStringLiteral("%1: %2").arg(m_device, systemError(ENOENT)));
        return false;
    }

    auto *serial = new QSerialPort(this);
    serial->setPortName(path);
    serial->setBaudRate(mode->baudRate);
    serial->setParity(mode->parity);
    serial->setDataBits(mode->dataBits);
    serial->setStopBits(mode->stopBits);
    serial->setFlowControl(m_flow == 1   ? QSerialPort::SoftwareControl
                           : m_flow == 2 ? QSerialPort::HardwareControl
                                         : QSerialPort::NoFlowControl);
    // Unlimited: received data is moved into the control's own queue at once.
    serial->setReadBufferSize(0);

    if (!serial->open(QIODevice::ReadWrite)) {
        const int savedErrno = errno;
        const QSerialPort::SerialPortError error = serial->error();
        const QString detail = serial->errorString();
        delete serial;
        const QByteArray node = QFile::encodeName(path);
        if (error == QSerialPort::PermissionError || savedErrno == EACCES || savedErrno == EBUSY
            || detail == systemError(EBUSY)) {
            if (::access(node.constData(), R_OK | W_OK) != 0 && errno == EACCES)
                setOpenFailure(permissionDeniedReason(m_device));
            else
                setOpenFailure(QStringLiteral("%1: the port is in use by another program (%2)").arg(m_device, detail));
        } else if (error == QSerialPort::UnsupportedOperationError) {
            setOpenFailure(QStringLiteral("%1: the device cannot use the mode \"%2\" (%3)").arg(m_device, m_mode, detail));
        } else {
            setOpenFailure(QStringLiteral("%1: %2").arg(m_device, detail));
        }
        return false;
    }

    m_serial = serial;
    m_openedPath = path;
    connect(serial, &QSerialPort::readyRead, this, &RealSerialPortControl::onReadyRead);
    connect(serial, &QSerialPort::errorOccurred, this, &RealSerialPortControl::onPortError);
    connect(serial, &QSerialPort::bytesWritten, this, &RealSerialPortControl::onBytesWritten);

    setModemLine(TIOCM_DTR, m_dtr);
    if (m_flow != 2)
        setModemLine(TIOCM_RTS, m_rts);
    m_lastLines = LineState();
    readLineState(&m_lastLines);
    m_linePoll.start(LinePollInterval);
    reportOpened();

    // Bytes may already be waiting (sent before the port was opened).
    if (m_serial->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &RealSerialPortControl::onReadyRead, Qt::QueuedConnection);
    return true;
}

bool RealSerialPortControl::openLoopback()
{
    m_plug = new LoopbackPlug(m_dtr, m_rts, this);
    m_openedPath = m_device;
    connect(m_plug, &LoopbackPlug::received, this, [this](const QByteArray &bytes) {
        takeInput(bytes);
        setPending(m_plug->bytesInFlight());
        announceInput();
    });
    connect(m_plug, &LoopbackPlug::lineChanged, this, [this](int code) {
        reportInputLines((m_plug->carrierDetect() ? LineState::Cd : 0) | (m_plug->clearToSend() ? LineState::Cts : 0)
                         | (m_plug->dataSetReady() ? LineState::Dsr : 0));
        raise(code);
    });
    connect(m_plug, &LoopbackPlug::breakReceived, this, &RealSerialPortControl::onLoopbackBreak);
    reportOpened();
    return true;
}

void RealSerialPortControl::setOpenFailure(const QString &reason)
{
    m_error = reason;
}

void RealSerialPortControl::close(bool lost)
{
    const bool wasOpen = IsOpen();
    m_linePoll.stop();
    m_counterPoll.stop();
    if (m_breakTimer.isActive()) {
        m_breakTimer.stop();
        endBreak();
    }
    if (m_plug) {
        m_plug->disconnect(this);
        // Bytes still going round the plug are lost, as on a real plug whose
        // port is closed while they are on the wire.
        m_plug->deleteLater();
        m_plug = nullptr;
    }
    if (m_serial) {
        QSerialPort *serial = m_serial;
        m_serial = nullptr;
        serial->disconnect(this);
        // What QSerialPort has read but not yet announced stays ours.
        const qint64 before = m_inputCount;
        takeInput(serial->readAll());
        serial->close();
        // This may run inside one of the port's own signals, so it is
        // deleted from the event loop.
        serial->deleteLater();
        if (m_inputCount > before && !m_quietClose)
            QMetaObject::invokeMethod(this, &RealSerialPortControl::announceInput, Qt::QueuedConnection);
    }
    m_noModemLines = false;
    m_lastLines = LineState();
    m_unwritten.clear();
    m_unwrittenCount = 0;
    setPending(0);
    if (wasOpen && !lost && !m_quietClose) {
        if (LineObserver *observer = lineObserver())
            observer->portClosed(LineObserver::now());
    }
}

int RealSerialPortControl::readLines() const
{
    if (!m_serial || m_noModemLines)
        return 0;
    LineState state;
    return readLineState(&state) ? state.lines : 0;
}

bool RealSerialPortControl::readLineState(LineState *state) const
{
    const int fd = int(m_serial->handle());
    int bits = 0;
    if (::ioctl(fd, TIOCMGET, &bits) == -1)
        return false;
    state->lines = ((bits & TIOCM_CAR) ? LineState::Cd : 0) | ((bits & TIOCM_CTS) ? LineState::Cts : 0)
                   | ((bits & TIOCM_DSR) ? LineState::Dsr : 0) | ((bits & TIOCM_RNG) ? LineState::Ring : 0);
    serial_icounter_struct counts{};
    state->counted = ::ioctl(fd, TIOCGICOUNT, &counts) == 0;
    if (state->counted) {
        state->ctsCount = counts.cts;
        state->dsrCount = counts.dsr;
        state->cdCount = counts.dcd;
        state->ringCount = counts.rng;
    }
    return true;
}

QList<int> RealSerialPortControl::lineEvents(const LineState &before, const LineState &after)
{
    const bool counted = before.counted && after.counted;
    const int changed = before.lines ^ after.lines;
    QList<int> events;
    if ((changed & LineState::Cts) || (counted && before.ctsCount != after.ctsCount))
        events.append(EventCtsChanged);
    if ((changed & LineState::Dsr) || (counted && before.dsrCount != after.dsrCount))
        events.append(EventDsrChanged);
    if ((changed & LineState::Cd) || (counted && before.cdCount != after.cdCount))
        events.append(EventCdChanged);
    const bool rang = counted ? before.ringCount != after.ringCount
                              : (after.lines & LineState::Ring) && !(before.lines & LineState::Ring);
    if (rang)
        events.append(EventRing);
    return events;
}

void RealSerialPortControl::setModemLine(int line, bool on)
{
    if (!m_serial || m_noModemLines)
        return;
    int bits = line;
    if (::ioctl(int(m_serial->handle()), on ? TIOCMBIS : TIOCMBIC, &bits) == -1) {
        const int error = errno;
        if (isNoModemLines(error))
            m_noModemLines = true; // the value is kept and reads back; the device just has no line
        else if (isDeviceGone(error))
            scheduleDeviceGone(systemError(error));
    }
}

void RealSerialPortControl::onReadyRead()
{
    if (!m_serial)
        return;
    QByteArray bytes = m_serial->readAll();
    if (bytes.isEmpty())
        return;
    m_failedReads = 0;
    takeInput(std::move(bytes));
    pollErrorCounters();
    announceInput();
}

void RealSerialPortControl::onPortError(QSerialPort::SerialPortError error)
{
    if (!m_serial || error == QSerialPort::NoError)
        return;
    const QString detail = m_serial->errorString();
    if (error == QSerialPort::ResourceError) {
        scheduleDeviceGone(detail);
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
            scheduleDeviceGone(QString());
    }
    if (m_serial)
        m_serial->clearError();
}

void RealSerialPortControl::pollLines()
{
    if (!m_serial)
        return;
    // Asked even of a device without modem lines: once the device is gone the
    // answer turns from ENOTTY to EIO, which catches a loss that no read shows.
    LineState now;
    if (!readLineState(&now)) {
        const int error = errno;
        if (isDeviceGone(error))
            scheduleDeviceGone(systemError(error));
        else if (isNoModemLines(error)) {
            m_noModemLines = true;
            // Nothing to watch but a loss, which reads notice first anyway.
            m_linePoll.setInterval(NoLinesPollInterval);
        }
        return;
    }
    const QList<int> events = lineEvents(m_lastLines, now);
    m_lastLines = now;
    reportInputLines(now.lines);
    QSerialPort *serial = m_serial;
    for (const int code : events) {
        if (m_serial != serial)
            break; // a handler closed the port
        raise(code);
    }
}

void RealSerialPortControl::scheduleDeviceGone(const QString &reason)
{
    if (!m_serial || m_gonePending)
        return;
    m_gonePending = true;
    m_goneReason = reason;
    m_linePoll.stop();
    // Handled from the event loop, away from QSerialPort's own signal, and
    // only if this same port is still open by then.
    QMetaObject::invokeMethod(this, [this, port = QPointer<QSerialPort>(m_serial)] {
        m_gonePending = false;
        if (port && port == m_serial)
            handleDeviceGone();
    }, Qt::QueuedConnection);
}

void RealSerialPortControl::handleDeviceGone()
{
    const QString device = m_device;
    m_quietClose = true; // no queued announcement: it is made here, before the loss
    close(true);
    m_quietClose = false;
    m_error = QStringLiteral("%1: the device was disconnected").arg(device);
    if (!m_goneReason.isEmpty())
        m_error += QStringLiteral(" (%1)").arg(m_goneReason);
    if (LineObserver *observer = lineObserver())
        observer->portLost(LineObserver::now(), m_error);
    if (m_inputCount > 0)
        announceInput();
    raise(EventDeviceGone);
}

void RealSerialPortControl::takeInput(QByteArray bytes)
{
    if (bytes.isEmpty())
        return;
    if (LineObserver *observer = lineObserver())
        observer->bytesReceived(LineObserver::now(), bytes);
    queueInput(std::move(bytes));
}

void RealSerialPortControl::queueInput(QByteArray bytes)
{
    if (bytes.isEmpty())
        return;
    // A read into a large reserved block can leave most of it unused; do not
    // keep that slack for as long as the chunk waits.
    if (bytes.capacity() > 2 * bytes.size() + 4096)
        bytes.squeeze();
    m_inputCount += bytes.size();
    m_input.push_back(std::move(bytes));
}

void RealSerialPortControl::raise(int code)
{
    const int previous = m_event;
    m_event = code;
    emit SerialEvent();
    m_event = previous;
}

void RealSerialPortControl::announceInput()
{
    // A handler that runs the event loop (a modal dialog) may let more data
    // in; that data is announced once the current event is over.
    if (m_announcing) {
        m_announceAgain = true;
        return;
    }
    m_announcing = true;
    do {
        m_announceAgain = false;
        if (m_inputCount == 0)
            break;
        raise(EventReceive);
    } while (m_announceAgain);
    m_announcing = false;
}
