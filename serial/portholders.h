#pragma once

#include <QList>
#include <QString>

// Which processes hold a device open, found by reading every process's open
// files under /proc. Used to explain why a port is in use.
class PortHolders
{
public:
    struct Holder
    {
        qint64 pid = 0;
        QString command; // the process's name (comm), "ModemManager"
        QString user;    // its owner's login name, or the numeric uid
    };

    struct Scan
    {
        QList<Holder> holders; // ordered by process id
        // Processes whose open files this user may not read (another user's,
        // without the rights to look): one of them may hold the device too.
        int unreadable = 0;
    };

    // The processes under procRoot (a /proc tree) that have `device` open,
    // matched by the node it resolves to, so a by-id link or another name of
    // the same node counts as the same device.
    static Scan find(const QString &device, const QString &procRoot = QStringLiteral("/proc"));

    // The system's modem prober, which opens every new serial device to
    // probe it for a modem.
    static bool isModemProber(const Holder &holder);

    // Lines for an error message's details: who holds `device`, a note when
    // some processes could not be looked at, and for the modem prober how to
    // keep it away from the device. `udevMatch` is the udev match for the
    // device's rule (ATTRS{idVendor}=="0403", ATTRS{idProduct}=="6001"),
    // empty where none is known.
    static QString describe(const Scan &scan, const QString &device, const QString &udevMatch = QString());

    // describe() for the live system, with the udev match read from sysfs.
    static QString explain(const QString &device);
};
