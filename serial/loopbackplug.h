#pragma once

#include <QByteArray>
#include <QObject>

#include <deque>

// The loopback plug a technician fits to a port to test it, built in: bytes
// written come back as received data, DTR drives DSR and CD, RTS drives CTS.
// Lets a user without hardware try the program (device value "loopback").
//
// Everything the plug sends back (bytes and line changes) is delivered later
// from the event loop, in the order it was caused, never from inside the call
// that caused it, as a real port's data and line changes would arrive.
class LoopbackPlug : public QObject
{
    Q_OBJECT

public:
    // The plug starts with the output lines as given, announcing nothing.
    explicit LoopbackPlug(bool dtr = false, bool rts = false, QObject *parent = nullptr);

    // Sends bytes round the plug; they come back through received().
    void write(const QByteArray &bytes);
    // Bytes written and not yet come back.
    qint64 bytesInFlight() const { return m_inFlight; }
    // Bytes written and not yet come back are lost, as when a port's output
    // queue is flushed.
    void dropInFlight();
    // A break goes round the plug; it comes back through breakReceived(),
    // in order with the bytes written before and after it.
    void sendBreak();

    // The output lines. A change of DTR changes DSR and CD, a change of RTS
    // changes CTS; each changed input line is announced with lineChanged().
    void setDtr(bool on);
    void setRts(bool on);
    bool dtr() const { return m_dtr; }
    bool rts() const { return m_rts; }

    // The input lines as the plug wires them.
    bool carrierDetect() const { return m_dtr; }
    bool dataSetReady() const { return m_dtr; }
    bool clearToSend() const { return m_rts; }

signals:
    void received(const QByteArray &bytes);
    // code is a SerialPortControl event code (EventCtsChanged, EventDsrChanged,
    // EventCdChanged).
    void lineChanged(int code);
    void breakReceived();

private:
    struct Item
    {
        QByteArray bytes; // data coming back, or empty for a line change
        int lineCode = 0;
        bool isBreak = false;
    };
    void post(Item item);
    void deliver();

    bool m_dtr = false;
    bool m_rts = false;
    std::deque<Item> m_queue;
    qint64 m_inFlight = 0;
    bool m_deliveryPosted = false;
};
