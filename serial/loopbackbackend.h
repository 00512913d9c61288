#pragma once

#include "serialbackend.h"

class LoopbackPlug;

// The built-in loopback plug as a line: bytes written are on its wire at
// once and come back as received data; DTR drives DSR and CD, RTS drives CTS.
// It keeps error counters of its own, which nothing but a break ever raises:
// a break comes back as a receiving UART in raw mode reports it, one 0x00
// byte with the break counter up by one.
class LoopbackBackend : public SerialBackend
{
    Q_OBJECT

public:
    using SerialBackend::SerialBackend;
    ~LoopbackBackend() override;

    bool open(const OpenSettings &settings, QString *error) override;
    QByteArray close() override;
    QString path() const override { return m_path; }
    void setDtr(bool on) override;
    void setRts(bool on) override;
    int lines() const override;
    void write(const QByteArray &bytes) override;
    qint64 pending() const override;
    void drop() override;
    bool setBreak(bool on) override;
    bool errorCounters(LineObserver::ErrorCounters *counters) const override;

private:
    LoopbackPlug *m_plug = nullptr;
    QString m_path;
    LineObserver::ErrorCounters m_counters;
};
