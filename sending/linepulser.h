#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class SerialPortControl;

// Pulses an output line: turns DTR or RTS to the other state for a time and
// then back, as a board's reset or bootloader circuit wants.
class LinePulser : public QObject
{
    Q_OBJECT

public:
    enum Line { Dtr, Rts };
    static constexpr int MaxDuration = 10000; // ms

    explicit LinePulser(SerialPortControl *port, QObject *parent = nullptr);

    // Starts a pulse; false, with the reason in *error, when the port is
    // closed, the line is pulsing already, or the line is not the program's
    // to drive (RTS under RTS/CTS handshaking).
    bool pulse(Line line, int milliseconds, QString *error = nullptr);
    bool isPulsing(Line line) const { return m_pulses[line].timer.isActive(); }

    // Ends running pulses now, putting the lines back.
    void finishAll();

signals:
    void pulseEnded(LinePulser::Line line);

private:
    struct Pulse
    {
        QTimer timer;
        bool restoreTo = false;
    };
    bool value(Line line) const;
    void set(Line line, bool on);
    void restore(Line line);

    QPointer<SerialPortControl> m_port;
    Pulse m_pulses[2];
};
