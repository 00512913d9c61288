#pragma once

#include "modemlinewatch.h"
#include "serialbackend.h"

#include <QSerialPort>

#include <deque>

// A real terminal device through QSerialPort: a UART, a USB adapter or a
// pseudo-terminal. Received bytes are handed on as soon as they arrive, so a
// device that goes away loses nothing already read; the lines are watched
// by a ModemLineWatch.
class DeviceBackend : public SerialBackend
{
    Q_OBJECT

public:
    explicit DeviceBackend(QObject *parent = nullptr);
    ~DeviceBackend() override;

    bool open(const OpenSettings &settings, QString *error) override;
    QByteArray close() override;
    QString path() const override { return m_path; }
    void setDtr(bool on) override;
    void setRts(bool on) override;
    int lines() const override;
    void write(const QByteArray &bytes) override;
    qint64 pending() const override { return m_unwrittenCount; }
    void drop() override;
    bool setBreak(bool on) override;
    bool errorCounters(LineObserver::ErrorCounters *counters) const override;

    // The reason given when permission to open `device` is denied: the system
    // error plus the group the user must belong to ("dialout" on Debian).
    static QString permissionDeniedReason(const QString &device);

private:
    void onReadyRead();
    void onBytesWritten();
    void onPortError(QSerialPort::SerialPortError error);
    void scheduleGone(const QString &reason);

    QSerialPort *m_serial = nullptr;
    QString m_path;
    int m_flow = 0;
    ModemLineWatch m_watch;
    // The most one receive event hands on: what a flood brings in about half a
    // millisecond, so the window stays as responsive as ever.
    static constexpr qsizetype MaxReceiveBlock = 64 * 1024;
    static constexpr int MaxFailedReads = 50;
    int m_failedReads = 0;
    bool m_gonePending = false;
    // Bytes handed to QSerialPort and not yet written by it to the device, to
    // tell which bytes each write took.
    std::deque<QByteArray> m_unwritten;
    qint64 m_unwrittenCount = 0;
};
