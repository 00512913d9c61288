#pragma once

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

    // Bytes handed to WriteOutput and not yet passed to the device.
    qint64 OutputPending() const;

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
    void close();
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

    const ComPortMap *m_map;
    int m_port = 0;
    QString m_mode = QStringLiteral("9600,N,8,1");
    int m_flow = 0;
    bool m_dtr = false;
    bool m_rts = false;
    QString m_device;
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
