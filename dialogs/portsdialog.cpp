#include "portsdialog.h"

#include "portholders.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString nodeOf(const QString &path)
{
    const QString node = QFileInfo(path).canonicalFilePath();
    return node.isEmpty() ? path : node;
}

// Whether the map entry `entry` names `device`, whose node is `node`: by its
// path, its stable name or any other path to the same node.
bool namesDevice(const QString &entry, const DeviceInventory::Device &device, const QString &node)
{
    return entry == device.path || entry == device.stablePath || nodeOf(entry) == node;
}

QTableWidgetItem *cell(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    item->setToolTip(text);
    return item;
}

} // namespace

PortsDialog::PortsDialog(const ComPortMap &map, const QList<DeviceInventory::Device> &present, HolderLookup holders,
                         QWidget *parent)
    : QDialog(parent)
    , m_map(map)
    , m_present(present)
{
    setObjectName(QStringLiteral("PortsDialog"));
    setWindowTitle(QStringLiteral("Ports"));
    for (const DeviceInventory::Device &d : m_present)
        m_held.append(holders ? holders(d.path) : QString());

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Devices plugged in now:"), this));
    tblDevices = new QTableWidget(0, 6, this);
    tblDevices->setObjectName(QStringLiteral("tblDevices"));
    tblDevices->setHorizontalHeaderLabels({QStringLiteral("Port"), QStringLiteral("Device"), QStringLiteral("Node"),
                                           QStringLiteral("Maker and product"), QStringLiteral("Serial number"),
                                           QStringLiteral("Held by")});
    layout->addWidget(tblDevices, 2);

    auto *assignRow = new QHBoxLayout;
    assignRow->addWidget(new QLabel(QStringLiteral("Give the selected device the number"), this));
    cboCom = new QComboBox(this);
    cboCom->setObjectName(QStringLiteral("cboCom"));
    for (int com = 1; com <= ComPortMap::MaxCom; ++com)
        cboCom->addItem(QStringLiteral("COM%1").arg(com), com);
    assignRow->addWidget(cboCom);
    cmdAssign = new QPushButton(QStringLiteral("&Assign"), this);
    cmdAssign->setObjectName(QStringLiteral("cmdAssign"));
    assignRow->addWidget(cmdAssign);
    assignRow->addStretch();
    layout->addLayout(assignRow);

    layout->addWidget(new QLabel(QStringLiteral("COM numbers:"), this));
    tblPorts = new QTableWidget(ComPortMap::MaxCom, 3, this);
    tblPorts->setObjectName(QStringLiteral("tblPorts"));
    tblPorts->setHorizontalHeaderLabels({QStringLiteral("Port"), QStringLiteral("Opens"), QStringLiteral("State")});
    layout->addWidget(tblPorts, 3);

    auto *buttons = new QHBoxLayout;
    cmdUnassign = new QPushButton(QStringLiteral("&Take Number Away"), this);
    cmdUnassign->setObjectName(QStringLiteral("cmdUnassign"));
    buttons->addWidget(cmdUnassign);
    buttons->addStretch();
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    layout->addLayout(buttons);

    for (QTableWidget *t : {tblDevices, tblPorts}) {
        t->setSelectionBehavior(QAbstractItemView::SelectRows);
        t->setSelectionMode(QAbstractItemView::SingleSelection);
        t->verticalHeader()->hide();
        t->horizontalHeader()->setStretchLastSection(true);
    }

    connect(cmdAssign, &QPushButton::clicked, this,
            [this] { assign(tblDevices->currentRow(), cboCom->currentData().toInt()); });
    connect(cmdUnassign, &QPushButton::clicked, this, [this] { unassign(tblPorts->currentRow() + 1); });
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(tblDevices, &QTableWidget::currentCellChanged, this, [this](int row) {
        // Offer the device's own number, else the lowest free one.
        if (row < 0 || row >= m_present.size())
            return;
        int com = comOf(m_present[row]);
        for (int n = ComPortMap::FirstAutoCom; com == 0 && n <= ComPortMap::MaxCom; ++n) {
            if (m_map.device(n).isEmpty())
                com = n;
        }
        if (com > 0)
            cboCom->setCurrentIndex(com - 1);
        updateButtons();
    });
    connect(tblPorts, &QTableWidget::currentCellChanged, this, &PortsDialog::updateButtons);

    fill();
    if (!m_present.isEmpty())
        tblDevices->setCurrentCell(0, 0);
    updateButtons();
    resize(860, 620);
}

QString PortsDialog::keyOf(const DeviceInventory::Device &device) const
{
    return device.stablePath.isEmpty() ? device.path : device.stablePath;
}

int PortsDialog::comOf(const DeviceInventory::Device &device) const
{
    const QString node = nodeOf(device.path);
    const QMap<int, QString> entries = m_map.entries();
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        if (namesDevice(it.value(), device, node))
            return it.key();
    }
    // The built-in defaults COM1..COM4 = ttyS0..3.
    for (int com = 1; com < ComPortMap::FirstAutoCom; ++com) {
        if (!entries.contains(com) && nodeOf(m_map.device(com)) == node)
            return com;
    }
    return 0;
}

void PortsDialog::assign(int deviceRow, int com)
{
    if (deviceRow < 0 || deviceRow >= m_present.size() || com < 1 || com > ComPortMap::MaxCom)
        return;
    const DeviceInventory::Device &device = m_present[deviceRow];
    QMap<int, QString> entries = m_map.entries();
    // One number per device: the old one goes.
    const QString node = nodeOf(device.path);
    for (auto it = entries.begin(); it != entries.end();) {
        if (namesDevice(it.value(), device, node))
            it = entries.erase(it);
        else
            ++it;
    }
    entries.insert(com, keyOf(device));
    m_map.setEntries(entries);
    QStringList left = m_map.unassigned();
    left.removeAll(device.path);
    left.removeAll(device.stablePath);
    m_map.setUnassigned(left);
    fill();
}

void PortsDialog::unassign(int com)
{
    QMap<int, QString> entries = m_map.entries();
    const auto it = entries.constFind(com);
    if (it == entries.cend())
        return;
    const QString device = it.value();
    entries.remove(com);
    m_map.setEntries(entries);
    // A plugged-in device would get a number again by itself; it is passed
    // over until the user gives it one.
    QStringList left = m_map.unassigned();
    if (device != ComPortMap::Loopback && !left.contains(device))
        left.append(device);
    m_map.setUnassigned(left);
    fill();
}

QString PortsDialog::holderSummary(const QString &device)
{
    const PortHolders::Scan scan = PortHolders::find(device);
    QStringList parts;
    for (const PortHolders::Holder &h : scan.holders)
        parts.append(QStringLiteral("%1 %2 (%3)").arg(h.pid).arg(h.command, h.user));
    if (scan.holders.isEmpty() && scan.unreadable > 0)
        parts.append(QStringLiteral("not known (%1 processes not readable)").arg(scan.unreadable));
    return parts.join(QStringLiteral(", "));
}

void PortsDialog::fill()
{
    tblDevices->setRowCount(int(m_present.size()));
    for (int row = 0; row < m_present.size(); ++row) {
        const DeviceInventory::Device &d = m_present[row];
        const int com = comOf(d);
        tblDevices->setItem(row, 0, cell(com > 0 ? QStringLiteral("COM%1").arg(com) : QStringLiteral("none")));
        tblDevices->setItem(
            row, 1,
            cell(d.stablePath.isEmpty() ? QStringLiteral("(no stable name)") : QFileInfo(d.stablePath).fileName()));
        tblDevices->setItem(row, 2, cell(d.path));
        tblDevices->setItem(row, 3, cell(d.description()));
        tblDevices->setItem(row, 4, cell(d.serial));
        tblDevices->setItem(row, 5, cell(m_held.value(row).isEmpty() ? QStringLiteral("-") : m_held.value(row)));
    }
    for (int com = 1; com <= ComPortMap::MaxCom; ++com) {
        const QString device = m_map.device(com);
        const bool own = m_map.entries().contains(com);
        QString state;
        if (device.isEmpty()) {
            state = QString();
        } else if (device == ComPortMap::Loopback) {
            state = QStringLiteral("built-in loopback plug");
        } else {
            const QString node = nodeOf(device);
            const auto match = std::find_if(m_present.cbegin(), m_present.cend(), [&](const auto &d) {
                return nodeOf(d.path) == node || d.stablePath == device;
            });
            if (match != m_present.cend())
                state = QStringLiteral("plugged in: %1")
                            .arg(match->description().isEmpty() ? match->path : match->description());
            else
                state = QFileInfo::exists(device) ? QStringLiteral("present") : QStringLiteral("not connected");
            if (!own)
                state += QStringLiteral(" (default)");
        }
        tblPorts->setItem(com - 1, 0, cell(QStringLiteral("COM%1").arg(com)));
        tblPorts->setItem(com - 1, 1, cell(device.isEmpty() ? QStringLiteral("no device") : device));
        tblPorts->setItem(com - 1, 2, cell(state));
    }
    tblDevices->resizeColumnsToContents();
    tblPorts->resizeColumnToContents(0);
    tblPorts->resizeColumnToContents(1);
    updateButtons();
}

void PortsDialog::updateButtons()
{
    cmdAssign->setEnabled(tblDevices->currentRow() >= 0 && tblDevices->currentRow() < m_present.size());
    cmdUnassign->setEnabled(m_map.entries().contains(tblPorts->currentRow() + 1));
}
