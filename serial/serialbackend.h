#pragma once

#include "lineobserver.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

struct SerialMode;

// One open line under the serial control: a real terminal device or the
// loopback plug. The control keeps the settings, the received queue, the
// events and what the line observer is told; a backend only moves bytes and
// lines, and says what happened on its line through its signals.
//
// Signals may come from inside a call (sent() from write() on the plug) or
// from the event loop; a handler may close the backend, after which it
// signals nothing more.
class SerialBackend : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~SerialBackend() override = default;

    // What an open needs: the device as mapped, its mode (parsed and as
    // text, for messages), the handshake number and the output lines.
    struct OpenSettings
    {
        QString device;
        const SerialMode *mode = nullptr;
        QString modeText;
        int flow = 0;
        bool dtr = false;
        bool rts = false;
    };
    // false with the reason in *error ("/dev/ttyUSB0: Permission denied").
    virtual bool open(const OpenSettings &settings, QString *error) = 0;
    // Closes the line and gives the bytes read from it but not yet delivered.
    virtual QByteArray close() = 0;
    // The node actually opened ("/dev/pts/3", "loopback").
    virtual QString path() const = 0;

    virtual void setDtr(bool on) = 0;
    virtual void setRts(bool on) = 0;
    // The status input lines now (ModemLineWatch::LineState flags).
    virtual int lines() const = 0;

    // Queues bytes for the line without blocking.
    virtual void write(const QByteArray &bytes) = 0;
    // Bytes queued and not yet taken by the device (on the plug: not yet
    // come back).
    virtual qint64 pending() const = 0;
    // Discards what is queued, in the driver too.
    virtual void drop() = 0;
    // Puts the transmit line into the break state or takes it out.
    virtual bool setBreak(bool on) = 0;
    // The driver's error counters; false when the device keeps none.
    virtual bool errorCounters(LineObserver::ErrorCounters *counters) const = 0;

signals:
    // Bytes as read from the line.
    void received(const QByteArray &bytes);
    // Bytes the device took from the queue.
    void sent(const QByteArray &bytes);
    void pendingChanged();
    // The input lines changed: the new flags and the events in order.
    void linesChanged(int lines, const QList<int> &events);
    // The error counters changed (told by a backend that knows it at once).
    void countersChanged();
    // The device went away; `reason` is a system error or empty. Raised once,
    // from the event loop.
    void gone(const QString &reason);
};
