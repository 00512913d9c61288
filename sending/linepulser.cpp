#include "linepulser.h"

#include "serialportcontrol.h"

LinePulser::LinePulser(SerialPortControl *port, QObject *parent)
    : QObject(parent)
    , m_port(port)
{
    for (const Line line : {Dtr, Rts}) {
        m_pulses[line].timer.setSingleShot(true);
        m_pulses[line].timer.setTimerType(Qt::PreciseTimer);
        connect(&m_pulses[line].timer, &QTimer::timeout, this, [this, line] { restore(line); });
    }
}

bool LinePulser::pulse(Line line, int milliseconds, QString *error)
{
    const QString name = line == Dtr ? QStringLiteral("DTR") : QStringLiteral("RTS");
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!m_port || !m_port->IsOpen())
        return fail(QStringLiteral("No port is open."));
    if (milliseconds < 1 || milliseconds > MaxDuration)
        return fail(QStringLiteral("A pulse lasts 1 to %1 ms.").arg(MaxDuration));
    if (isPulsing(line))
        return fail(QStringLiteral("%1 is being pulsed already.").arg(name));
    if (line == Rts && m_port->FlowControl() == 2)
        return fail(QStringLiteral("RTS is driven by the RTS/CTS handshake."));
    Pulse &p = m_pulses[line];
    p.restoreTo = value(line);
    set(line, !p.restoreTo);
    p.timer.start(milliseconds);
    return true;
}

void LinePulser::finishAll()
{
    for (const Line line : {Dtr, Rts}) {
        if (isPulsing(line)) {
            m_pulses[line].timer.stop();
            restore(line);
        }
    }
}

bool LinePulser::value(Line line) const
{
    return line == Dtr ? m_port->DtrEnabled() : m_port->RtsEnabled();
}

void LinePulser::set(Line line, bool on)
{
    if (line == Dtr)
        m_port->DtrEnabled(on);
    else
        m_port->RtsEnabled(on);
}

void LinePulser::restore(Line line)
{
    // A line already set back meanwhile (the check box, a reopen) is not
    // touched again, so it announces no second change.
    if (m_port && value(line) != m_pulses[line].restoreTo)
        set(line, m_pulses[line].restoreTo);
    emit pulseEnded(line);
}
