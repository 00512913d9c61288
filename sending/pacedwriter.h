#pragma once

#include "pacing.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

class SerialPortControl;

// Puts bytes on a port at the pace set: unpaced, every block goes straight to
// the port; paced, one byte (or, with only a line delay, one line) at a time,
// the next one only after the port has taken the last and the delay has
// passed, driven by a timer so the caller never waits.
class PacedWriter : public QObject
{
    Q_OBJECT

public:
    explicit PacedWriter(SerialPortControl *port, QObject *parent = nullptr);

    void setPacing(const Pacing &pacing);
    Pacing pacing() const { return m_pacing; }

    // Queues bytes after everything queued before. A write while the port is
    // closed is dropped, as the port itself drops it.
    void write(const QByteArray &bytes);

    // Bytes held here, not yet handed to the port.
    qint64 queued() const { return m_buffer.size() - m_offset; }
    // Everything not yet on its way to the wire: held here or still queued
    // in the port.
    qint64 pending() const;

    bool portOpen() const;

    // Discards every byte held here and in the port, so the line goes quiet.
    void drop();

signals:
    // pending() changed.
    void pendingChanged(qint64 bytes);

private:
    void step();
    void afterWrite(int delay);
    void checkDrained();
    void onPause();
    void onPortPending(qint64 bytes);
    void notify();

    QPointer<SerialPortControl> m_port;
    Pacing m_pacing;
    QByteArray m_buffer;
    qsizetype m_offset = 0;
    QTimer m_timer;     // the pause after a unit
    QTimer m_drainPoll; // looks whether the port has taken the unit
    QDeadlineTimer m_pauseEnds;
    bool m_draining = false; // waiting for the port to take the last unit
    int m_nextDelay = 0;     // the pause once it has
    qint64 m_lastNotified = -1;
};
