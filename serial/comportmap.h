#pragma once

#include <QMap>
#include <QString>

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

    // The entries as stored (COM number to device), replacing or reading all.
    void setEntries(const QMap<int, QString> &entries);
    QMap<int, QString> entries() const;

    // The device COM number `com` opens: its entry, else the fixed default for
    // COM1..COM4, else empty (no device assigned).
    QString device(int com) const;

    // Gives every present device that has no COM number the lowest free one
    // from COM5 up; returns true when an entry was added.
    bool assignPresentDevices();

    // A short description of COM number `com` for a tooltip.
    QString describe(int com) const;

private:
    QMap<int, QString> m_entries;
};
