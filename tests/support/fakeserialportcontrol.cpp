#include "fakeserialportcontrol.h"

static QString boolText(bool b)
{
    return b ? QStringLiteral("true") : QStringLiteral("false");
}

void FakeSerialPortControl::record(const QString &entry) const
{
    log.append(entry);
}

void FakeSerialPortControl::deliver(const QByteArray &bytes, int chunk)
{
    m_input += bytes;
    m_chunk = chunk;
    m_event = EventReceive;
    emit SerialEvent();
    m_event = EventNone;
}

void FakeSerialPortControl::setLines(bool cdLine, bool ctsLine, bool dsrLine)
{
    cd = cdLine;
    cts = ctsLine;
    dsr = dsrLine;
}

void FakeSerialPortControl::raise(int code)
{
    m_event = code;
    emit SerialEvent();
    m_event = EventNone;
}

void FakeSerialPortControl::PortNumber(int number)
{
    record(QStringLiteral("PortNumber=%1").arg(number));
    m_port = number;
}

int FakeSerialPortControl::PortNumber() const
{
    return m_port;
}

void FakeSerialPortControl::ModeSettings(const QString &mode)
{
    record(QStringLiteral("ModeSettings=%1").arg(mode));
    m_mode = mode;
}

QString FakeSerialPortControl::ModeSettings() const
{
    return m_mode;
}

void FakeSerialPortControl::FlowControl(int mode)
{
    record(QStringLiteral("FlowControl=%1").arg(mode));
    m_flow = mode;
}

int FakeSerialPortControl::FlowControl() const
{
    return m_flow;
}

void FakeSerialPortControl::DtrEnabled(bool enabled)
{
    record(QStringLiteral("DtrEnabled=%1").arg(boolText(enabled)));
    m_dtr = enabled;
}

bool FakeSerialPortControl::DtrEnabled() const
{
    record(QStringLiteral("read DtrEnabled"));
    return m_dtr;
}

void FakeSerialPortControl::RtsEnabled(bool enabled)
{
    record(QStringLiteral("RtsEnabled=%1").arg(boolText(enabled)));
    m_rts = enabled;
}

bool FakeSerialPortControl::RtsEnabled() const
{
    record(QStringLiteral("read RtsEnabled"));
    return m_rts;
}

void FakeSerialPortControl::IsOpen(bool open)
{
    record(QStringLiteral("IsOpen=%1").arg(boolText(open)));
    if (!open) {
        m_open = false;
        return;
    }
    m_open = !failOpen;
    m_error = failOpen ? failReason : QString();
}

bool FakeSerialPortControl::IsOpen() const
{
    record(QStringLiteral("read IsOpen"));
    return m_open;
}

bool FakeSerialPortControl::CarrierDetect() const
{
    if (logReads)
        record(QStringLiteral("read CarrierDetect"));
    return m_open && cd;
}

bool FakeSerialPortControl::ClearToSend() const
{
    if (logReads)
        record(QStringLiteral("read ClearToSend"));
    return m_open && cts;
}

bool FakeSerialPortControl::DataSetReady() const
{
    if (logReads)
        record(QStringLiteral("read DataSetReady"));
    return m_open && dsr;
}

int FakeSerialPortControl::EventCode() const
{
    return m_event;
}

qint64 FakeSerialPortControl::InputCount() const
{
    return m_input.size();
}

QByteArray FakeSerialPortControl::ReadInput()
{
    const qsizetype n = m_chunk > 0 ? qMin<qsizetype>(m_chunk, m_input.size()) : m_input.size();
    QByteArray out = m_input.left(n);
    m_input.remove(0, n);
    return out;
}

void FakeSerialPortControl::WriteOutput(const QByteArray &bytes)
{
    record(QStringLiteral("WriteOutput=%1").arg(QString::fromLatin1(bytes.toHex())));
    ++writeCalls;
    if (m_open)
        written += bytes;
}

QString FakeSerialPortControl::LastError() const
{
    return m_error;
}

QString FakeSerialPortControl::DeviceName() const
{
    return QStringLiteral("COM%1").arg(m_port);
}

void FakeSerialPortControl::setPending(qint64 bytes)
{
    if (bytes == m_pending)
        return;
    m_pending = bytes;
    emit OutputPendingChanged(bytes);
}

qint64 FakeSerialPortControl::OutputPending() const
{
    return m_pending;
}

void FakeSerialPortControl::DropOutput()
{
    record(QStringLiteral("DropOutput"));
    setPending(0);
}

bool FakeSerialPortControl::SendBreak(int milliseconds)
{
    record(QStringLiteral("SendBreak=%1").arg(milliseconds));
    if (!m_open || !breakAccepted || milliseconds <= 0)
        return false;
    breaks.append(milliseconds);
    return true;
}
