#pragma once

#include "portreopen.h"

#include <QObject>

#include <functional>

class ComPortMap;
class PortReplug;
class QAction;
class QMenu;
class QSettings;
class SerialPortControl;

// Puts the reopening of a re-plugged port behind the terminal window: the
// "Reopen When Plugged Back" item of the session menu and its setting, and
// the PortReplug that waits for a lost device. The window tells it what
// happened to the port and shows what it answers.
class ReplugWiring : public QObject
{
    Q_OBJECT

public:
    static inline const QString SettingsGroup = QStringLiteral("Session");
    static inline const QString SettingsKey = QStringLiteral("ReopenWhenPluggedBack");

    ReplugWiring(SerialPortControl &comm, const ComPortMap &map, QMenu *menu, QObject *parent = nullptr);
    ~ReplugWiring() override;

    // What the port is reopened with when its device is back (the window's
    // port, mode, handshake and lines as they are then).
    void setOpeningSource(std::function<PortOpening()> source);

    void readSettings(const QSettings &settings);
    void writeSettings(QSettings &settings) const;

    // The user chose a port (opened or not), chose none, or reopened it with
    // new settings: a wait under way ends, and an open port's device is
    // remembered for the next loss.
    void portChosen(bool opened);
    // The open device went away: waits for it when that is on. true when
    // waiting.
    bool portLost();
    // The window closes.
    void stop();

    bool isWaiting() const;
    QAction *action() const { return m_action; }

signals:
    // The port is open again by itself after its device was gone `goneMs`.
    void reopened(qint64 goneMs);
    // A wait began or ended without a reopen (the item was switched on or off).
    void waitingChanged();

private:
    void setEnabled(bool enabled);

    SerialPortControl &m_comm;
    PortReplug *m_replug = nullptr;
    QAction *m_action = nullptr;
    // Lost and not chosen again since: switching the item on starts a wait.
    bool m_lost = false;
};
