#include "deviceinventory.h"

#include "comportmap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>

namespace {

QString readValue(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll()).trimmed();
}

// The USB device (the directory with idVendor) that a tty's device
// directory belongs to, walking up from it; empty when it is not on USB.
QString usbDeviceDir(const QString &ttyDevice, const QString &sysRoot)
{
    QString dir = ttyDevice;
    while (dir.size() > sysRoot.size() && dir.startsWith(sysRoot)) {
        if (QFileInfo::exists(dir + QStringLiteral("/idVendor")))
            return dir;
        dir = QFileInfo(dir).path();
    }
    return QString();
}

} // namespace

QString DeviceInventory::Device::description() const
{
    // "Arduino (www.arduino.cc)" makes the "Arduino Uno": its first word says it.
    const QString makerWord
        = maker.section(QRegularExpression(QStringLiteral("[\\s(]")), 0, 0, QString::SectionSkipEmpty);
    if (maker.isEmpty() || (!makerWord.isEmpty() && product.startsWith(makerWord, Qt::CaseInsensitive)))
        return product;
    if (product.isEmpty())
        return maker;
    return maker + u' ' + product;
}

QString DeviceInventory::Device::udevMatch() const
{
    if (vendorId.isEmpty() || productId.isEmpty())
        return QString();
    QString match = QStringLiteral("ATTRS{idVendor}==\"%1\", ATTRS{idProduct}==\"%2\"").arg(vendorId, productId);
    if (!serial.isEmpty())
        match += QStringLiteral(", ATTRS{serial}==\"%1\"").arg(serial);
    return match;
}

QList<DeviceInventory::Device> DeviceInventory::scan(const Roots &roots)
{
    const QString sysRoot = QFileInfo(roots.sys).canonicalFilePath();
    const QString classDir = roots.sys + QStringLiteral("/class/tty");

    const QMap<QString, QString> stableOf = ComPortMap::stableLinks(roots.dev + QStringLiteral("/serial/by-id"));

    QList<Device> devices;
    const QStringList names = QDir(classDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        const QString ttyDir = classDir + u'/' + name;
        // Virtual terminals and pseudo-terminals have no device behind them.
        const QString deviceDir = QFileInfo(ttyDir + QStringLiteral("/device")).canonicalFilePath();
        if (deviceDir.isEmpty())
            continue;
        if (name.startsWith(QLatin1String("ttyS")) && readValue(ttyDir + QStringLiteral("/type")) == u'0')
            continue; // a UART slot with no UART in it
        Device d;
        d.path = roots.dev + u'/' + name;
        const QString node = QFileInfo(d.path).canonicalFilePath();
        if (node.isEmpty())
            continue; // no node for it (yet)
        d.stablePath = stableOf.value(node);
        const QString usb = usbDeviceDir(deviceDir, sysRoot);
        if (!usb.isEmpty()) {
            d.maker = readValue(usb + QStringLiteral("/manufacturer"));
            d.product = readValue(usb + QStringLiteral("/product"));
            d.serial = readValue(usb + QStringLiteral("/serial"));
            d.vendorId = readValue(usb + QStringLiteral("/idVendor"));
            d.productId = readValue(usb + QStringLiteral("/idProduct"));
        }
        devices.append(d);
    }
    return devices;
}

DeviceInventory::Device DeviceInventory::lookup(const QString &device, const Roots &roots)
{
    const QString node = QFileInfo(device).canonicalFilePath();
    if (!node.isEmpty()) {
        const QList<Device> all = scan(roots);
        for (const Device &d : all) {
            if (QFileInfo(d.path).canonicalFilePath() == node)
                return d;
        }
    }
    Device d;
    d.path = device;
    return d;
}
