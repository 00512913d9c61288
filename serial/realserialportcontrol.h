#pragma once

#include "lineobserver.h"
#include "serialportcontrol.h"

#include <QPointer>
#include <QSerialPort>
#include <QTimer>

#include <deque>

class ComPortMap;
class LoopbackPlug;

// The serial port control over real devices (QSerialPort) and the built-in
// loopback plug. The COM number is turned into a device by the ComPortMap.
//
// Received bytes are moved out of QSerialPort into a queue of chunks as soon
// as they arrive, so a port that goes away (adapter unplugged, far end of a
// pseudo-terminal gone) loses nothing already read. Linux reports no modem
// line changes, so the lines are polled while a port is open.
class RealSerialPortControl : public SerialPortControl
{
    Q_OBJECT

public:
    // How often the modem lines are looked at while a port is open.
    static constexpr int LinePollInterval = 25; // ms
    // For a device without modem lines (a pseudo-terminal), polled only to
    // notice that it went away.
    static constexpr int NoLinesPollInterval = 250; // ms

    explicit RealSerialPortControl(const ComPortMap *map, QObject *parent = nullptr);
    ~RealSerialPortControl() override;

    void PortNumber(int number) override;
    int PortNumber() const override;
    void ModeSettings(const QString &mode) override;
    QString ModeSettings() const override;
    void FlowControl(int mode) override;
    int FlowControl() const override;
    void DtrEnabled(bool enabled) override;
    bool DtrEnabled() const override;
    void RtsEnabled(bool enabled) override;
    bool RtsEnabled() const override;
    void IsOpen(bool open) override;
    bool IsOpen() const override;
    bool CarrierDetect() const override;
    bool ClearToSend() const override;
    bool DataSetReady() const override;
    int EventCode() const override;
    qint64 InputCount() const override;
    QByteArray ReadInput() override;
    void WriteOutput(const QByteArray &bytes) override;
    QString LastError() const override;
    QString DeviceName() const override;

    qint64 OutputPending() const override;
    void DropOutput() override;
    bool SendBreak(int milliseconds) override;

    // How often the driver's error counters are looked at while a port is
    // open (they are also read after every receive).
    static constexpr int ErrorCounterInterval = 1000; // ms

    // The input lines at one look, with the driver's change counters where
    // it keeps them (real UARTs and most USB adapters): the counters reveal a
    // pulse that came and went between two looks.
    struct LineState
    {
        enum Line { Cd = 1, Cts = 2, Dsr = 4, Ring = 8 };
        int lines = 0; // Line flags
        bool counted = false;
        int ctsCount = 0, dsrCount = 0, cdCount = 0, ringCount = 0;
    };
    // The events one look at the lines gives after the previous one, in the
    // order CTS, DSR, CD, ring. A ring is announced once per ring: by its
    // counter where there is one, else when the line rises.
    static QList<int> lineEvents(const LineState &before, const LineState &after);

    // The reason given when permission to open `device` is denied: the system
    // error plus the group the user must belong to ("dialout" on Debian).
    static QString permissionDeniedReason(const QString &device);

private:
    bool open();
    bool openLoopback();
    // lost: the device went away (the observer hears of it from the caller)
    void close(bool lost = false);
    void setOpenFailure(const QString &reason);
    int readLines() const;
    // false when the device did not answer; errno says why
    bool readLineState(LineState *state) const;
    void setModemLine(int line, bool on);
    void onReadyRead();
    void onPortError(QSerialPort::SerialPortError error);
    void pollLines();
    void scheduleDeviceGone(const QString &reason);
    void handleDeviceGone();
    void queueInput(QByteArray bytes);
    void raise(int code);
    void announceInput();

    // Received bytes as read from the device: told to the observer, queued.
    void takeInput(QByteArray bytes);
    // QSerialPort wrote some of what it holds to the device.
    void onBytesWritten();
    void setPending(qint64 bytes);
    void endBreak();
    // What the observer is told, each from the place the event happens.
    void reportOpened();
    void reportOutputLines();
    void reportInputLines(int lines); // LineState::Line flags; told only when changed
    void pollErrorCounters();          // told when changed (or the first time)
    void onLoopbackBreak();

    // Bytes handed to QSerialPort and not yet written by it to the device, to
    // tell the observer which bytes each write took.
    std::deque<QByteArray> m_unwritten;
    qint64 m_unwrittenCount = 0;
    qint64 m_pendingTold = 0;
    QTimer m_counterPoll;
    QTimer m_breakTimer;
    LineObserver::ErrorCounters m_counters; // last told (the plug's own, on the plug)
    bool m_countersTold = false;
    bool m_noCounters = false;
    int m_inputsTold = -1;
    bool m_reopening = false; // the open under way brings back a lost port

    const ComPortMap *m_map;
    int m_port = 0;
    QString m_mode = QStringLiteral("9600,N,8,1");
    int m_flow = 0;
    bool m_dtr = false;
    bool m_rts = false;
    QString m_device;
    QString m_openedPath; // the node itself, as opened
    QString m_error;

    QSerialPort *m_serial = nullptr;
    LoopbackPlug *m_plug = nullptr;
    bool m_noModemLines = false; // the device has none (a pseudo-terminal)
    LineState m_lastLines;
    static constexpr int MaxFailedReads = 50;
    int m_failedReads = 0;
    QTimer m_linePoll;

    std::deque<QByteArray> m_input;
    qint64 m_inputCount = 0;

    int m_event = EventNone;
    bool m_announcing = false;   // inside a receive event
    bool m_announceAgain = false;
    bool m_gonePending = false;
    bool m_quietClose = false;   // closing without announcing what is left
    QString m_goneReason;
};
