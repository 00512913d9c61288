#include "modemlinewatch.h"

#include "serialportcontrol.h"

#include <QPointer>

#include <cerrno>
#include <cstring>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>

namespace {

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

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

ModemLineWatch::ModemLineWatch(QObject *parent)
    : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &ModemLineWatch::poll);
}

void ModemLineWatch::attach(int fd)
{
    m_timer.stop();
    m_fd = fd;
    m_noModemLines = false;
    m_last = LineState();
}

void ModemLineWatch::detach()
{
    attach(-1);
}

void ModemLineWatch::start()
{
    if (m_fd < 0)
        return;
    m_last = LineState();
    readLineState(m_fd, &m_last);
    m_timer.start(LinePollInterval);
}

void ModemLineWatch::stop()
{
    m_timer.stop();
}

bool ModemLineWatch::readLineState(int fd, LineState *state)
{
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

QList<int> ModemLineWatch::lineEvents(const LineState &before, const LineState &after)
{
    const bool counted = before.counted && after.counted;
    const int changed = before.lines ^ after.lines;
    QList<int> events;
    if ((changed & LineState::Cts) || (counted && before.ctsCount != after.ctsCount))
        events.append(SerialPortControl::EventCtsChanged);
    if ((changed & LineState::Dsr) || (counted && before.dsrCount != after.dsrCount))
        events.append(SerialPortControl::EventDsrChanged);
    if ((changed & LineState::Cd) || (counted && before.cdCount != after.cdCount))
        events.append(SerialPortControl::EventCdChanged);
    const bool rang = counted ? before.ringCount != after.ringCount
                              : (after.lines & LineState::Ring) && !(before.lines & LineState::Ring);
    if (rang)
        events.append(SerialPortControl::EventRing);
    return events;
}

int ModemLineWatch::lines() const
{
    if (m_fd < 0 || m_noModemLines)
        return 0;
    LineState state;
    return readLineState(m_fd, &state) ? state.lines : 0;
}

void ModemLineWatch::setLine(int tiocmBit, bool on)
{
    if (m_fd < 0 || m_noModemLines)
        return;
    int bits = tiocmBit;
    if (::ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &bits) == -1) {
        const int error = errno;
        if (isNoModemLines(error))
            m_noModemLines = true; // the value is kept and reads back; the device just has no line
        else if (isDeviceGone(error))
            emit lost(systemError(error));
    }
}

void ModemLineWatch::poll()
{
    if (m_fd < 0)
        return;
    LineState now;
    if (!readLineState(m_fd, &now)) {
        const int error = errno;
        if (isDeviceGone(error)) {
            m_timer.stop();
            emit lost(systemError(error));
        } else if (isNoModemLines(error)) {
            m_noModemLines = true;
            // Nothing to watch but a loss, which reads notice first anyway.
            m_timer.setInterval(NoLinesPollInterval);
        }
        return;
    }
    const QList<int> events = lineEvents(m_last, now);
    const bool changed = now.lines != m_last.lines;
    m_last = now;
    if (changed || !events.isEmpty())
        emit linesChanged(now.lines, events);
}
