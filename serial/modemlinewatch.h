#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

// Watches the status input lines of an open terminal device and sets its
// output lines. Linux reports no modem line changes, so the lines are polled;
// the driver's change counters (where it keeps them) reveal a pulse that came
// and went between two looks. A device without modem lines (a
// pseudo-terminal) is still polled, slowly, because its answer turns from
// "no such lines" to an I/O error once it is gone, which catches a loss that
// no read shows.
class ModemLineWatch : public QObject
{
    Q_OBJECT

public:
    // How often the lines are looked at.
    static constexpr int LinePollInterval = 25; // ms
    // For a device without modem lines, polled only to notice that it went away.
    static constexpr int NoLinesPollInterval = 250; // ms

    // The input lines at one look, with the driver's change counters.
    struct LineState
    {
        enum Line { Cd = 1, Cts = 2, Dsr = 4, Ring = 8 };
        int lines = 0; // Line flags
        bool counted = false;
        int ctsCount = 0, dsrCount = 0, cdCount = 0, ringCount = 0;
    };
    // The events one look at the lines gives after the previous one, in the
    // order CTS, DSR, CD, ring (SerialPortControl event codes). A ring is
    // announced once per ring: by its counter where there is one, else when
    // the line rises.
    static QList<int> lineEvents(const LineState &before, const LineState &after);
    // One look at the lines of `fd`; false when the device did not answer
    // (errno says why).
    static bool readLineState(int fd, LineState *state);

    explicit ModemLineWatch(QObject *parent = nullptr);

    // The device to watch and set (the descriptor stays the caller's);
    // detach() forgets it.
    void attach(int fd);
    void detach();
    // Takes the first look now, announcing nothing, and keeps looking;
    // stop() ends the looking.
    void start();
    void stop();

    // Sets an output line (TIOCM_DTR, TIOCM_RTS). On a device without modem
    // lines nothing happens; a device that is gone is reported with lost().
    void setLine(int tiocmBit, bool on);

    // The input lines now (LineState flags); 0 when not watching or the
    // device has no modem lines.
    int lines() const;

signals:
    // A look found the lines changed: the new LineState flags and the events
    // in order. A handler may stop the watch.
    void linesChanged(int lines, const QList<int> &events);
    // The device no longer answers; `reason` is the system error.
    void lost(const QString &reason);

private:
    void poll();

    int m_fd = -1;
    bool m_noModemLines = false;
    LineState m_last;
    QTimer m_timer;
};
