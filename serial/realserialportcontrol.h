#pragma once

#include "lineobserver.h"
#include "modemlinewatch.h"
#include "serialportcontrol.h"

#include <QTimer>

#include <deque>

class ComPortMap;
class SerialBackend;

// The serial port control over real devices and the built-in loopback plug.
// The COM number is turned into a device by the ComPortMap; the device itself
// stands behind a SerialBackend (DeviceBackend, LoopbackBackend).
//
// Received bytes are moved out of the backend into a queue of chunks as soon
// as they arrive, so a port that goes away (adapter unplugged, far end of a
// pseudo-terminal gone) loses nothing already read.
class RealSerialPortControl : public SerialPortControl
{
    Q_OBJECT

public:
    static constexpr int LinePollInterval = ModemLineWatch::LinePollInterval;
    static constexpr int NoLinesPollInterval = ModemLineWatch::NoLinesPollInterval;
    // How often the driver's error counters are looked at while a port is
    // open (they are also read after every receive).
    static constexpr int ErrorCounterInterval = 1000; // ms

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

    using LineState = ModemLineWatch::LineState;
    static QList<int> lineEvents(const LineState &before, const LineState &after)
    {
        return ModemLineWatch::lineEvents(before, after);
    }
    // The reason given when permission to open `device` is denied.
    static QString permissionDeniedReason(const QString &device);

private:
    bool open();
    // lost: the device went away (the observer hears of it from the caller)
    void close(bool lost = false);
    void onReceived(const QByteArray &bytes);
    void onLinesChanged(int lines, const QList<int> &events);
    void onGone(const QString &reason);
    void raise(int code);
    void announceInput();
    // Received bytes as read from the device: told to the observer, queued.
    void takeInput(QByteArray bytes);
    void queueInput(QByteArray bytes);
    void setPending(qint64 bytes);
    void endBreak();
    // What the observer is told, each from the place the event happens.
    void reportOpened();
    void reportOutputLines();
    void reportInputLines(int lines); // LineState::Line flags; told only when changed
    void pollErrorCounters();         // told when changed (or the first time)

    const ComPortMap *m_map;
    int m_port = 0;
    QString m_mode = QStringLiteral("9600,N,8,1");
    int m_flow = 0;
    bool m_dtr = false;
    bool m_rts = false;
    QString m_device;
    QString m_error;

    SerialBackend *m_backend = nullptr;

    std::deque<QByteArray> m_input;
    qint64 m_inputCount = 0;

    int m_event = EventNone;
    bool m_announcing = false; // inside a receive event
    bool m_announceAgain = false;
    bool m_quietClose = false; // closing without announcing what is left

    qint64 m_pendingTold = 0;
    QTimer m_counterPoll;
    QTimer m_breakTimer;
    LineObserver::ErrorCounters m_counters; // last told
    bool m_countersTold = false;
    bool m_noCounters = false;
    int m_inputsTold = -1;
    // The port and device last lost: opening them again is a return.
    int m_lostPort = 0;
    QString m_lostDevice;
    bool m_reopening = false;
};
