#pragma once

#include "serialportcontrol.h"

#include <QStringList>

// A scriptable stand-in for a serial port, for tests: records every operation
// with its value in order ("IsOpen=true", "read IsOpen"), can refuse opens,
// and delivers received bytes and line changes on request.
class FakeSerialPortControl : public SerialPortControl
{
    Q_OBJECT

public:
    using SerialPortControl::SerialPortControl;

    // Script
    bool failOpen = false; // the next opens fail
    QString failReason = QStringLiteral("/dev/ttyFAKE: No such file or directory");
    bool cd = false, cts = false, dsr = false;
    mutable QStringList log; // every operation, in order
    QByteArray written;      // everything WriteOutput accepted
    int writeCalls = 0;
    bool logReads = true;      // reads of the lines and input are logged too
    bool breakAccepted = true; // what SendBreak answers while open
    QList<int> breaks;         // the duration of every break accepted

    // The bytes OutputPending() reports (not logged when read); raises
    // OutputPendingChanged when it changes.
    void setPending(qint64 bytes);

    // Makes bytes wait and raises EventReceive (the handler drains them).
    void deliver(const QByteArray &bytes, int chunk = 0);
    // Sets a line and raises the event with code.
    void raise(int code);
    void setLines(bool cd, bool cts, bool dsr);

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
    void DropOutput() override;                // logged "DropOutput"; nothing is pending after it
    bool SendBreak(int milliseconds) override; // logged "SendBreak=250"

private:
    void record(const QString &entry) const;

    int m_port = 0;
    QString m_mode;
    int m_flow = 0;
    bool m_dtr = false;
    bool m_rts = false;
    bool m_open = false;
    int m_event = EventNone;
    QByteArray m_input;
    int m_chunk = 0;
    QString m_error;
    qint64 m_pending = 0;
};
