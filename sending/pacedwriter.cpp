#include "pacedwriter.h"

#include "serialportcontrol.h"

PacedWriter::PacedWriter(SerialPortControl *port, QObject *parent)
    : QObject(parent)
    , m_port(port)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &PacedWriter::onPause);
    // A port says when its queue changes; looking as well costs little and
    // keeps the pace going with any port.
    m_drainPoll.setInterval(1);
    m_drainPoll.setTimerType(Qt::PreciseTimer);
    connect(&m_drainPoll, &QTimer::timeout, this, &PacedWriter::checkDrained);
    connect(port, &SerialPortControl::OutputPendingChanged, this, &PacedWriter::onPortPending);
}

void PacedWriter::setPacing(const Pacing &pacing)
{
    m_pacing = pacing;
    // Bytes held for a pace no longer wanted go out now.
    if (!m_pacing.isPaced() && !m_timer.isActive() && !m_draining)
        step();
}

qint64 PacedWriter::pending() const
{
    return queued() + (m_port ? m_port->OutputPending() : 0);
}

bool PacedWriter::portOpen() const
{
    return m_port && m_port->IsOpen();
}

void PacedWriter::write(const QByteArray &bytes)
{
    if (bytes.isEmpty() || !m_port)
        return;
    // A closed port drops what it is handed, as it always has; nothing is
    // kept back to go out later.
    if (!m_port->IsOpen()) {
        m_port->WriteOutput(bytes);
        return;
    }
    if (!m_pacing.isPaced() && queued() == 0) {
        m_port->WriteOutput(bytes);
        notify();
        return;
    }
    // What has gone out is let go of before the buffer grows.
    if (m_offset > 0 && m_offset >= m_buffer.size() / 2) {
        m_buffer.remove(0, m_offset);
        m_offset = 0;
    }
    m_buffer += bytes;
    if (!m_timer.isActive() && !m_draining)
        step();
    notify();
}

void PacedWriter::drop()
{
    m_timer.stop();
    m_drainPoll.stop();
    m_draining = false;
    m_buffer.clear();
    m_offset = 0;
    if (m_port)
        m_port->DropOutput();
    notify();
}

void PacedWriter::step()
{
    if (queued() == 0)
        return;
    if (!m_port || !m_port->IsOpen()) {
        m_buffer.clear();
        m_offset = 0;
        notify();
        return;
    }
    if (!m_pacing.isPaced()) {
        const QByteArray rest = m_buffer.mid(m_offset);
        m_buffer.clear();
        m_offset = 0;
        m_port->WriteOutput(rest);
        notify();
        return;
    }
    // One byte with a byte delay; else up to and including the next line end.
    qsizetype end = m_offset;
    if (m_pacing.byteDelay == 0) {
        while (end + 1 < m_buffer.size() && !Pacing::endsLine(m_buffer, end))
            ++end;
    }
    const int delay = m_pacing.delayAfter(m_buffer, end);
    const QByteArray unit = m_buffer.mid(m_offset, end + 1 - m_offset);
    m_offset = end + 1;
    if (m_offset == m_buffer.size()) {
        m_buffer.clear();
        m_offset = 0;
    }
    m_port->WriteOutput(unit);
    afterWrite(delay);
    notify();
}

void PacedWriter::afterWrite(int delay)
{
    m_draining = true;
    m_nextDelay = delay;
    checkDrained();
}

void PacedWriter::checkDrained()
{
    if (!m_draining)
        return;
    // The pause runs from when the port has taken the unit, so a slow line
    // does not eat into it.
    if (m_port && m_port->IsOpen() && m_port->OutputPending() > 0) {
        if (!m_drainPoll.isActive())
            m_drainPoll.start();
        return;
    }
    m_draining = false;
    m_drainPoll.stop();
    m_pauseEnds = QDeadlineTimer(std::chrono::milliseconds(m_nextDelay), Qt::PreciseTimer);
    m_timer.start(m_nextDelay);
}

void PacedWriter::onPause()
{
    // Never sooner than the pace: a timer that fires early waits the rest.
    const qint64 left = m_pauseEnds.remainingTimeNSecs();
    if (left > 0) {
        m_timer.start(int((left + 999999) / 1000000));
        return;
    }
    step();
}

void PacedWriter::onPortPending(qint64)
{
    checkDrained();
    notify();
}

void PacedWriter::notify()
{
    const qint64 now = pending();
    if (now == m_lastNotified)
        return;
    m_lastNotified = now;
    emit pendingChanged(now);
}
