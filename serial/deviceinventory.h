#pragma once

#include <QList>
#include <QString>

// The serial devices plugged in now, read from sysfs: each device node with
// its stable /dev/serial/by-id name and, for USB adapters, what the adapter
// says of itself (maker, product, serial number, vendor and product ids).
// Where the device and sysfs trees are looked for; tests point these at
// fake trees.
struct DeviceTreeRoots
{
    QString dev = QStringLiteral("/dev");
    QString sys = QStringLiteral("/sys");
};

class DeviceInventory
{
public:
    using Roots = DeviceTreeRoots;

    struct Device
    {
        QString path;       // the device node, "/dev/ttyUSB0"
        QString stablePath; // its /dev/serial/by-id link, empty when it has none
        QString maker;      // "FTDI"; empty for a port without USB descriptors
        QString product;    // "FT232R USB UART"
        QString serial;     // the adapter's serial number
        QString vendorId;   // four hex digits, "0403"
        QString productId;

        // Maker and product as one text, without repeating a maker that the
        // product already names.
        QString description() const;
        // The udev match of a rule for this adapter, by its ids (and serial
        // number where it has one); empty for a device without ids.
        QString udevMatch() const;
    };

    // Every serial device present, ordered by node name. Built-in UART ports
    // with no hardware behind them (ttyS* of type 0) are left out.
    static QList<Device> scan(const Roots &roots = Roots());
    // What is known of one device, by any path that resolves to its node;
    // only `path` is set when it is not a present serial device.
    static Device lookup(const QString &device, const Roots &roots = Roots());
};
