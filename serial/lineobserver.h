#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Sees everything that happens on a port while it is open, at the moment it
// happens: bytes read from and written to the device, the output lines as the
// program sets them, the input lines as seen, the port's life, and the
// driver's error counters. The session record is one such observer.
//
// Every call is made on the control's thread, synchronously, from the place
// where the event is taken (right after the read or write on the device), so
// the time it carries is the event's own. An observer must return quickly: it
// may buffer, but never block on slow I/O.
//
// Times are CLOCK_MONOTONIC nanoseconds (LineObserver::now()).
class LineObserver
{
public:
    virtual ~LineObserver() = default;

    // The driver's cumulative error counters for the open port (TIOCGICOUNT).
    struct ErrorCounters
    {
        quint32 overrun = 0;       // the UART's receive register was overwritten
        quint32 bufferOverrun = 0; // the driver's receive buffer was full
        quint32 parity = 0;
        quint32 framing = 0;
        quint32 breaks = 0;
        friend bool operator==(const ErrorCounters &, const ErrorCounters &) = default;
    };

    // The port opened: `device` is the path opened, `mode` the mode text
    // ("9600,N,8,1"), `handshake` the flow-control number. `reopened` is true
    // when the same port came back after being lost.
    virtual void portOpened(qint64 time, const QString &device, const QString &mode, int handshake, bool reopened) = 0;
    // The program closed the port.
    virtual void portClosed(qint64 time) = 0;
    // The device went away; `reason` as LastError() gives it.
    virtual void portLost(qint64 time, const QString &reason) = 0;

    // Bytes as read from the device, every value unchanged.
    virtual void bytesReceived(qint64 time, const QByteArray &bytes) = 0;
    // Bytes as handed to the device (written to it, not merely queued).
    virtual void bytesSent(qint64 time, const QByteArray &bytes) = 0;

    // The output lines as the program set them (after every change, and once
    // at open).
    virtual void outputLines(qint64 time, bool dtr, bool rts) = 0;
    // The input lines as seen (at open and at every change).
    virtual void inputLines(qint64 time, bool cts, bool dsr, bool cd, bool ri) = 0;

    // The error counters, at open and whenever they change.
    virtual void errorCounters(qint64 time, const ErrorCounters &counters) = 0;
    // The device keeps no error counters (a pseudo-terminal); said once per open.
    virtual void noErrorCounters(qint64 time) = 0;

    // A break was put on the line for `milliseconds`.
    virtual void breakSent(qint64 time, int milliseconds) = 0;

    // CLOCK_MONOTONIC now, in nanoseconds.
    static qint64 now();
};
