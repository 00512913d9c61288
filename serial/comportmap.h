#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

class QSettings;

// Which device each COM number (1 to 32) opens. Kept in the settings store's
// section "Ports" as COMn=device. A COM number without an entry falls back to
// /dev/ttyS0..3 for COM1..COM4; other present devices (USB, ACM, ...) are given
// the lowest free number from COM5 up, by their stable /dev/serial/by-id name
// where there is one. The value "loopback" selects the built-in loopback plug.
class ComPortMap
{
public:
    static constexpr int MaxCom = 32;
    static constexpr int FirstAutoCom = 5;
    static inline const QString Loopback = QStringLiteral("loopback");
    static inline const QString SettingsGroup = QStringLiteral("Ports");

    // A serial device that is plugged in now.
    struct PresentDevice
    {
        QString path;        // the device node, "/dev/ttyUSB0"
        QString stablePath;  // its /dev/serial/by-id link, empty when it has none
        QString description; // maker and product, "FTDI FT232R USB UART", may be empty
    };

    // The entries as stored (COM number to device), replacing or reading all.
    // Numbers outside 1..32 and empty devices are left out.
    void setEntries(const QMap<int, QString> &entries);
    QMap<int, QString> entries() const;

    // Devices a user took the COM number away from: the automatic
    // assignment passes them over until they are given a number again.
    // Kept as the key Unassigned of the same section, a list of paths.
    void setUnassigned(const QStringList &devices);
    QStringList unassigned() const;

    // The entries from and to the settings store: keys COM1..COM32 of the
    // group "Ports". Writing replaces the whole group, so a removed entry
    // does not come back at the next start.
    void readSettings(QSettings &settings);
    void writeSettings(QSettings &settings) const;

    // The device COM number `com` opens: its entry, else the fixed default for
    // COM1..COM4, else empty (no device assigned).
    QString device(int com) const;

    // Gives every present device that has no COM number the lowest free one
    // from COM5 up; returns true when an entry was added. Serial ports built
    // into the machine (ttyS*) are never assigned: COM1..COM4 cover them. A
    // device counts as mapped when an entry names it by any path that resolves
    // to the same node. The list given is also what describe() reports on.
    bool assignPresentDevices();
    bool assignPresentDevices(const QList<PresentDevice> &present);

    // The COM number that opens `device`, compared by the node each path
    // resolves to (a by-id link matches its /dev/ttyUSB0), COM1..COM4's
    // fixed defaults included; 0 when no number opens it.
    int comOf(const QString &device) const;

    // A COM number for `device`, asked for by name: the number that opens it
    // already, else the lowest free one, stored by the device's stable link
    // in byIdDir where it has one (as the automatic assignment does). The
    // device leaves the unassigned list. 0 when all 32 numbers are taken.
    int assignDevice(const QString &device, const QString &byIdDir = QStringLiteral("/dev/serial/by-id"));

    // The serial devices plugged in now, with the by-id link of each.
    // byIdDir is where the stable links are looked for.
    static QList<PresentDevice> presentDevices(const QString &byIdDir = QStringLiteral("/dev/serial/by-id"));
    // The stable links of byIdDir by the device node each resolves to. An
    // adapter with several interfaces has several links; the first by name wins.
    static QMap<QString, QString> stableLinks(const QString &byIdDir);

    // A short description of COM number `com` for a tooltip:
    // "/dev/ttyUSB0 (FTDI FT232R USB UART)", "loopback plug", "no device".
    QString describe(int com) const;

private:
    const PresentDevice *findPresent(const QString &device) const;

    QMap<int, QString> m_entries;
    QStringList m_unassigned;
    QList<PresentDevice> m_present;
};
