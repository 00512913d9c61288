#include "realserialportcontrol.h"

#include "comportmap.h"
#include "devicebackend.h"
#include "loopbackbackend.h"
#include "serialmode.h"

#include <QMetaObject>
#include <QPointer>

RealSerialPortControl::RealSerialPortControl(const ComPortMap *map, QObject *parent)
    : SerialPortControl(parent)
    , m_map(map)
{
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
    if (m_backend) {
        m_backend->setDtr(enabled);
        reportOutputLines();
    }
}

bool RealSerialPortControl::DtrEnabled() const
{
    return m_dtr;
}

void RealSerialPortControl::RtsEnabled(bool enabled)
{
    m_rts = enabled;
    if (m_backend) {
        m_backend->setRts(enabled);
        reportOutputLines();
    }
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
    return m_backend != nullptr;
}

bool RealSerialPortControl::CarrierDetect() const
{
    return m_backend && (m_backend->lines() & LineState::Cd);
}

bool RealSerialPortControl::ClearToSend() const
{
    return m_backend && (m_backend->lines() & LineState::Cts);
}

bool RealSerialPortControl::DataSetReady() const
{
    return m_backend && (m_backend->lines() & LineState::Dsr);
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
    if (bytes.isEmpty() || !m_backend)
        return;
    m_backend->write(bytes);
}

qint64 RealSerialPortControl::OutputPending() const
{
    return m_backend ? m_backend->pending() : 0;
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
    if (m_backend)
        m_backend->drop();
}

bool RealSerialPortControl::SendBreak(int milliseconds)
{
    if (!m_backend || milliseconds <= 0 || m_breakTimer.isActive())
        return false;
    if (!m_backend->setBreak(true))
        return false;
    if (LineObserver *observer = lineObserver())
        observer->breakSent(LineObserver::now(), milliseconds);
    m_breakTimer.start(milliseconds);
    return true;
}

void RealSerialPortControl::endBreak()
{
    if (m_backend)
        m_backend->setBreak(false);
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

QString RealSerialPortControl::permissionDeniedReason(const QString &device)
{
    return DeviceBackend::permissionDeniedReason(device);
}

bool RealSerialPortControl::open()
{
    m_error.clear();
    m_device.clear();

    if (m_port < 1 || m_port > ComPortMap::MaxCom) {
        m_error = QStringLiteral("COM%1: there is no such port number (1 to %2)").arg(m_port).arg(ComPortMap::MaxCom);
        return false;
    }
    m_device = m_map ? m_map->device(m_port) : QString();
    if (m_device.isEmpty()) {
        m_error = QStringLiteral("COM%1: no device is assigned to this port number; map one in the "
                                 "[%2] section of the settings file (COM%1=/dev/ttyUSB0, or "
                                 "COM%1=loopback for the built-in loopback plug)")
                      .arg(m_port)
                      .arg(ComPortMap::SettingsGroup);
        return false;
    }

    QString why;
    const std::optional<SerialMode> mode = SerialMode::parse(m_mode, &why);
    if (!mode) {
        m_error = QStringLiteral("%1: cannot use the mode \"%2\": %3").arg(m_device, m_mode, why);
        return false;
    }

    SerialBackend *backend = nullptr;
    if (m_device == ComPortMap::Loopback)
        backend = new LoopbackBackend(this);
    else
        backend = new DeviceBackend(this);
    const SerialBackend::OpenSettings settings{m_device, &*mode, m_mode, m_flow, m_dtr, m_rts};
    if (!backend->open(settings, &m_error)) {
        delete backend;
        return false;
    }

    m_backend = backend;
    connect(backend, &SerialBackend::received, this, &RealSerialPortControl::onReceived);
    connect(backend, &SerialBackend::sent, this, [this](const QByteArray &bytes) {
        if (LineObserver *observer = lineObserver())
            observer->bytesSent(LineObserver::now(), bytes);
    });
    connect(backend, &SerialBackend::pendingChanged, this, [this] { setPending(OutputPending()); });
    connect(backend, &SerialBackend::linesChanged, this, &RealSerialPortControl::onLinesChanged);
    connect(backend, &SerialBackend::countersChanged, this, &RealSerialPortControl::pollErrorCounters);
    connect(backend, &SerialBackend::gone, this, &RealSerialPortControl::onGone);

    m_reopening = m_port == m_lostPort && m_device == m_lostDevice;
    m_lostPort = 0;
    m_lostDevice.clear();
    reportOpened();
    return true;
}

void RealSerialPortControl::close(bool lost)
{
    m_counterPoll.stop();
    if (!m_backend)
        return;
    if (m_breakTimer.isActive()) {
        m_breakTimer.stop();
        endBreak();
    }
    SerialBackend *backend = std::exchange(m_backend, nullptr);
    backend->disconnect(this);
    const qint64 before = m_inputCount;
    takeInput(backend->close());
    // This may run inside one of the backend's own signals, so it is deleted
    // from the event loop.
    backend->deleteLater();
    if (m_inputCount > before && !m_quietClose)
        QMetaObject::invokeMethod(this, &RealSerialPortControl::announceInput, Qt::QueuedConnection);
    setPending(0);
    if (!lost && !m_quietClose) {
        if (LineObserver *observer = lineObserver())
            observer->portClosed(LineObserver::now());
    }
}

void RealSerialPortControl::onReceived(const QByteArray &bytes)
{
    takeInput(bytes);
    pollErrorCounters();
    announceInput();
}

void RealSerialPortControl::onLinesChanged(int lines, const QList<int> &events)
{
    reportInputLines(lines);
    SerialBackend *backend = m_backend;
    for (const int code : events) {
        if (m_backend != backend)
            break; // a handler closed the port
        raise(code);
    }
}

void RealSerialPortControl::onGone(const QString &reason)
{
    const QString device = m_device;
    const int port = m_port;
    m_quietClose = true; // no queued announcement: it is made here, before the loss
    close(true);
    m_quietClose = false;
    m_error = QStringLiteral("%1: the device was disconnected").arg(device);
    if (!reason.isEmpty())
        m_error += QStringLiteral(" (%1)").arg(reason);
    m_lostPort = port;
    m_lostDevice = device;
    if (LineObserver *observer = lineObserver())
        observer->portLost(LineObserver::now(), m_error);
    if (m_inputCount > 0)
        announceInput();
    raise(EventDeviceGone);
}

void RealSerialPortControl::reportOpened()
{
    m_inputsTold = -1;
    m_countersTold = false;
    m_noCounters = false;
    m_counters = LineObserver::ErrorCounters();
    if (LineObserver *observer = lineObserver())
        observer->portOpened(LineObserver::now(), m_backend->path(), m_mode, m_flow, m_reopening);
    reportOutputLines();
    reportInputLines(m_backend->lines());
    pollErrorCounters();
    if (!m_noCounters)
        m_counterPoll.start();
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
        observer->inputLines(LineObserver::now(), lines & LineState::Cts, lines & LineState::Dsr, lines & LineState::Cd,
                             lines & LineState::Ring);
}

void RealSerialPortControl::pollErrorCounters()
{
    if (!m_backend || m_noCounters)
        return;
    LineObserver::ErrorCounters counters;
    if (!m_backend->errorCounters(&counters)) {
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
    if (m_countersTold && counters == m_counters)
        return;
    m_countersTold = true;
    m_counters = counters;
    if (LineObserver *observer = lineObserver())
        observer->errorCounters(LineObserver::now(), counters);
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
