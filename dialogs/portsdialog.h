#pragma once

#include "comportmap.h"
#include "deviceinventory.h"

#include <QDialog>
#include <QList>

#include <functional>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

// "Ports...": which device each COM number opens and which serial devices are
// plugged in now, with what is known of each (stable name, maker and
// product, serial number, whether another process holds it). The user gives
// a device a COM number or takes one away; OK hands back the edited map.
class PortsDialog : public QDialog
{
    Q_OBJECT

public:
    // `holders` tells for a device path who else has it open ("" for nobody).
    using HolderLookup = std::function<QString(const QString &device)>;

    PortsDialog(const ComPortMap &map, const QList<DeviceInventory::Device> &present, HolderLookup holders = {},
                QWidget *parent = nullptr);

    // The map as edited (entries and the devices left without a number).
    const ComPortMap &map() const { return m_map; }

    // Gives the device in row `deviceRow` of the device list the number
    // `com`; the device's old number, and the number's old device, are let go.
    void assign(int deviceRow, int com);
    // Takes COM number `com` away from its device.
    void unassign(int com);

    // The devices' holders as the list shows them, a line per holder:
    // "1234 ModemManager (root)".
    static QString holderSummary(const QString &device);

    QTableWidget *tblPorts = nullptr;
    QTableWidget *tblDevices = nullptr;
    QComboBox *cboCom = nullptr;
    QPushButton *cmdAssign = nullptr;
    QPushButton *cmdUnassign = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;

private:
    void fill();
    // The COM number that opens `device` (by any path to the same node), 0 for none.
    int comOf(const DeviceInventory::Device &device) const;
    QString keyOf(const DeviceInventory::Device &device) const;
    void updateButtons();

    ComPortMap m_map;
    QList<DeviceInventory::Device> m_present;
    QStringList m_held; // per present device
};
