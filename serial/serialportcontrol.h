#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class LineObserver;

// The serial communications control that the terminal window drives: one port,
// its line settings, its modem lines and its data. The terminal knows only this
// interface; the real ports, the loopback plug and the test fake stand behind it.
//
// Properties are written and read through overloads of one name: `IsOpen(true)`
// opens, `IsOpen()` reads the open state.
//
// Threading: every call and every SerialEvent happens on the thread that owns
// the control (the user-interface thread).
class SerialPortControl : public QObject
{
    Q_OBJECT

public:
    // Reasons for a SerialEvent, read with EventCode() inside the handler.
    enum EventCodes : int {
        EventNone = 0,
        EventReceive = 2,      // received data is waiting: drain it with InputCount/ReadInput
        EventCtsChanged = 3,   // Clear To Send changed
        EventDsrChanged = 4,   // Data Set Ready changed
        EventCdChanged = 5,    // Carrier Detect changed
        EventRing = 6,         // ring indicator rose
        EventDeviceGone = 100, // the open device went away; the control has closed the port
    };
    // When a device goes away, bytes it delivered before are kept: a receive
    // event for them (if any wait) comes first, then EventDeviceGone, after
    // which IsOpen() reads false and LastError() names the lost device.
    Q_ENUM(EventCodes)

    explicit SerialPortControl(QObject *parent = nullptr)
        : QObject(parent)
    {}
    ~SerialPortControl() override = default;

    // The COM number (1 to 32) that the next open uses.
    virtual void PortNumber(int number) = 0;
    virtual int PortNumber() const = 0;

    // Line settings used from the next open, as "9600,N,8,1": baud rate,
    // parity letter (N, O, E, M, S), data bits (5 to 8), stop bits (1, 1.5, 2).
    // The text is not checked here; a mode the port cannot use fails the open.
    virtual void ModeSettings(const QString &mode) = 0;
    virtual QString ModeSettings() const = 0;

    // Handshaking used from the next open: 0 none, 1 XON/XOFF, 2 RTS/CTS.
    virtual void FlowControl(int mode) = 0;
    virtual int FlowControl() const = 0;

    // The DTR and RTS lines follow these values while the port is open; a value
    // written while closed takes effect at the next open. A read gives the
    // value in force.
    virtual void DtrEnabled(bool enabled) = 0;
    virtual bool DtrEnabled() const = 0;
    virtual void RtsEnabled(bool enabled) = 0;
    virtual bool RtsEnabled() const = 0;

    // true opens the port with the settings above, false closes it (also when
    // already closed). A failed open never throws: IsOpen() then reads false
    // and LastError() says why.
    virtual void IsOpen(bool open) = 0;
    virtual bool IsOpen() const = 0;

    // The status input lines, true = active. Answered at any time; a closed
    // port, or a device without modem lines, reads false.
    virtual bool CarrierDetect() const = 0;
    virtual bool ClearToSend() const = 0;
    virtual bool DataSetReady() const = 0;

    // The reason for the SerialEvent being delivered (EventCodes).
    virtual int EventCode() const = 0;

    // Received bytes not yet taken, and taking them: ReadInput returns one or
    // more waiting bytes in arrival order (every value 0..255 unchanged) and
    // removes them from the count; it returns an empty array when none wait.
    virtual qint64 InputCount() const = 0;
    virtual QByteArray ReadInput() = 0;

    // Queues every byte for sending, in order and unchanged, without blocking
    // the caller however large the block or slow the line. A write while the
    // port is closed is dropped.
    virtual void WriteOutput(const QByteArray &bytes) = 0;

    // Bytes handed to WriteOutput and not yet written to the device (on the
    // loopback plug: not yet come back round it). OutputPendingChanged tells
    // every change.
    virtual qint64 OutputPending() const { return 0; }
    // Discards every byte still queued for sending, including those the
    // driver holds but has not put on the wire yet. The line goes quiet once
    // the byte on the wire now is out.
    virtual void DropOutput() {}
    // Holds the transmit line in the break state for `milliseconds`, starting
    // now, without blocking the caller (bytes still queued go out after it
    // ends; wait for OutputPending() to reach 0 first to send the break after
    // them). false when the port is closed, a break is already on, or the
    // device refused it. On the loopback plug the break comes back as a
    // receiving UART reports it: one byte 0x00 received and the break counter
    // of the error counters (LineObserver::errorCounters) raised by one.
    virtual bool SendBreak(int milliseconds)
    {
        Q_UNUSED(milliseconds);
        return false;
    }

    // Why the last open failed (device path and system error, such as
    // "/dev/ttyUSB0: Permission denied", or that no device is assigned to the
    // port number), or which device was lost; empty after a successful open.
    // Meant as the detail text of an error message, not as its title.
    virtual QString LastError() const = 0;

    // The device the current or last port number refers to, for messages.
    virtual QString DeviceName() const = 0;

    // The observer that sees every event on the line as it happens (the
    // session record); nullptr for none. Not owned. A control that has no
    // line of its own (the test fake) may ignore it.
    void setLineObserver(LineObserver *observer) { m_observer = observer; }
    LineObserver *lineObserver() const { return m_observer; }

signals:
    // Raised on the control's thread, between other handlers: with
    // EventReceive whenever received data is waiting, and with the other codes
    // on line changes and when the device goes away.
    void SerialEvent();
    // OutputPending() changed to `bytes` (after WriteOutput, as the device
    // takes the bytes, on DropOutput and on close).
    void OutputPendingChanged(qint64 bytes);

private:
    LineObserver *m_observer = nullptr;
};
