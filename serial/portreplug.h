#pragma once

#include "devicewatcher.h"
#include "portreopen.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QTimer>

#include <functional>

class ComPortMap;
class SerialPortControl;

// Brings a lost port back by itself: when the open device goes away, waits
// for a device of the same identity to return and reopens the port with the
// same mode, handshake, DTR and RTS. The identity of a port is the
// /dev/serial/by-id name of its device where it has one (the name stays when
// the adapter comes back as another ttyUSB number), else the path it is
// mapped to.
class PortReplug : public QObject
{
    Q_OBJECT

public:
    // While the identity is present but the open fails (udev has not yet
    // given the node its group, or another program was quicker), the open is
    // tried again this often.
    static constexpr int RetryInterval = 100; // ms

    PortReplug(SerialPortControl &comm, const ComPortMap &map, QObject *parent = nullptr);

    // What the port is reopened with, asked for at the moment it is back, so
    // that a line or setting the user changed while waiting is honoured.
    // Without one, the settings the control held when the device went away.
    using OpeningSource = std::function<PortOpening()>;
    void setOpeningSource(OpeningSource source) { m_openingSource = std::move(source); }

    // Off: a lost port stays closed (and a wait under way ends).
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }

    // The port opened: remembers who its device is, while it is there to ask.
    void portOpened();
    // The open device went away: starts waiting for it (when enabled and the
    // identity is known). true when waiting.
    bool portLost();
    // The user chose another port or none, or the window closes.
    void cancel();
    bool isWaiting() const { return m_waiting; }
    QString identity() const { return m_identity; }

    // The identity of `device`: itself when it is a link in byIdDir, else the
    // link there that resolves to the same node (the first by name), else
    // `device` as given. The loopback plug and anything that is not an
    // absolute path have none (empty).
    static QString identityOf(const QString &device, const QString &byIdDir = QStringLiteral("/dev/serial/by-id"));
    // Whether a device of that identity is there: the path resolves to a
    // character device.
    static bool isPresent(const QString &identity);

signals:
    // The port is open again after `goneMs` without its device;
    // `returnToOpenMs` is how long the open took after the device was seen.
    void reopened(qint64 goneMs, qint64 returnToOpenMs);

private:
    void check();

    SerialPortControl &m_comm;
    const ComPortMap &m_map;
    bool m_enabled = true;
    bool m_waiting = false;
    QString m_identity;
    PortOpening m_opening;
    OpeningSource m_openingSource;
    DeviceWatcher m_watcher;
    QTimer m_retry;
    QElapsedTimer m_gone;
    QElapsedTimer m_seen; // since the identity was first seen present again
};
