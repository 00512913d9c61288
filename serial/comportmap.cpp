#include "comportmap.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QSettings>
#include <QSet>

#include <algorithm>

namespace {

// Resolves links so that /dev/serial/by-id/usb-X and /dev/ttyUSB0 compare
// equal; a path that does not exist (an adapter unplugged) stays as written.
QString canonical(const QString &path)
{
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? QDir::cleanPath(path) : resolved;
}

bool isBuiltInPort(const QString &path)
{
    return QFileInfo(path).fileName().startsWith(QLatin1String("ttyS"));
}

} // namespace

void ComPortMap::setEntries(const QMap<int, QString> &entries)
{
    m_entries.clear();
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        const QString device = it.value().trimmed();
        if (it.key() >= 1 && it.key() <= MaxCom && !device.isEmpty())
            m_entries.insert(it.key(), device);
    }
}

QMap<int, QString> ComPortMap::entries() const
{
    return m_entries;
}

void ComPortMap::setUnassigned(const QStringList &devices)
{
    m_unassigned.clear();
    for (const QString &d : devices) {
        if (!d.trimmed().isEmpty() && !m_unassigned.contains(d.trimmed()))
            m_unassigned.append(d.trimmed());
    }
}

QStringList ComPortMap::unassigned() const
{
    return m_unassigned;
}

void ComPortMap::readSettings(QSettings &settings)
{
    QMap<int, QString> read;
    settings.beginGroup(SettingsGroup);
    for (int com = 1; com <= MaxCom; ++com) {
        const QString key = QStringLiteral("COM%1").arg(com);
        if (!settings.contains(key))
            continue;
        // A path holding commas, written without quotes, reads back as a list.
        const QVariant value = settings.value(key);
        const QString device
            = (value.typeId() == QMetaType::QStringList ? value.toStringList().join(u',') : value.toString()).trimmed();
        if (!device.isEmpty())
            read.insert(com, device);
    }
    setUnassigned(settings.value(QStringLiteral("Unassigned")).toStringList());
    settings.endGroup();
    setEntries(read);
}

void ComPortMap::writeSettings(QSettings &settings) const
{
    // Only the COM keys are the map's own: other keys a user keeps in the
    // section survive.
    settings.beginGroup(SettingsGroup);
    for (int com = 1; com <= MaxCom; ++com) {
        const QString key = QStringLiteral("COM%1").arg(com);
        const auto it = m_entries.constFind(com);
        if (it != m_entries.cend())
            settings.setValue(key, it.value());
        else
            settings.remove(key);
    }
    if (m_unassigned.isEmpty())
        settings.remove(QStringLiteral("Unassigned"));
    else
        settings.setValue(QStringLiteral("Unassigned"), m_unassigned);
    settings.endGroup();
}

QString ComPortMap::device(int com) const
{
    const auto it = m_entries.constFind(com);
    if (it != m_entries.cend())
        return it.value();
    if (com >= 1 && com < FirstAutoCom)
        return QStringLiteral("/dev/ttyS%1").arg(com - 1);
    return QString();
}

bool ComPortMap::assignPresentDevices()
{
    return assignPresentDevices(presentDevices());
}

bool ComPortMap::assignPresentDevices(const QList<PresentDevice> &present)
{
    m_present = present;

    QSet<QString> mapped;
    for (const QString &device : std::as_const(m_entries))
        mapped.insert(canonical(device));
    for (const QString &device : std::as_const(m_unassigned))
        mapped.insert(canonical(device));

    // A stable order, so that two adapters plugged in together get the same
    // numbers on every machine start.
    QList<PresentDevice> candidates;
    for (const PresentDevice &d : present) {
        if (!isBuiltInPort(d.path) && !mapped.contains(canonical(d.path)))
            candidates.append(d);
    }
    std::sort(candidates.begin(), candidates.end(), [](const PresentDevice &a, const PresentDevice &b) {
        const QString &ka = a.stablePath.isEmpty() ? a.path : a.stablePath;
        const QString &kb = b.stablePath.isEmpty() ? b.path : b.stablePath;
        return ka < kb;
    });

    bool added = false;
    int com = FirstAutoCom;
    for (const PresentDevice &d : std::as_const(candidates)) {
        const QString key = canonical(d.path);
        if (mapped.contains(key))
            continue; // listed twice
        while (com <= MaxCom && m_entries.contains(com))
            ++com;
        if (com > MaxCom)
            break;
        m_entries.insert(com, d.stablePath.isEmpty() ? d.path : d.stablePath);
        mapped.insert(key);
        added = true;
    }
    return added;
}

int ComPortMap::comOf(const QString &device) const
{
    const QString key = device == Loopback ? device : canonical(device);
    for (int com = 1; com <= MaxCom; ++com) {
        const QString mapped = this->device(com);
        if (!mapped.isEmpty() && (mapped == Loopback ? mapped : canonical(mapped)) == key)
            return com;
    }
    return 0;
}

int ComPortMap::assignDevice(const QString &device, const QString &byIdDir)
{
    const QString key = device == Loopback ? device : canonical(device);
    m_unassigned.erase(std::remove_if(m_unassigned.begin(), m_unassigned.end(),
                                      [&key](const QString &d) { return canonical(d) == key; }),
                       m_unassigned.end());
    if (const int com = comOf(device))
        return com;

    int com = 1;
    while (com <= MaxCom && !this->device(com).isEmpty())
        ++com;
    if (com > MaxCom)
        return 0;
    QString stored = device == Loopback ? device : QDir::cleanPath(device);
    if (device != Loopback && QFileInfo(stored).absolutePath() != QDir::cleanPath(byIdDir))
        stored = stableLinks(byIdDir).value(key, stored);
    m_entries.insert(com, stored);
    return com;
}

QMap<QString, QString> ComPortMap::stableLinks(const QString &byIdDir)
{
    QMap<QString, QString> stableOf;
    const QFileInfoList links
        = QDir(byIdDir).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &link : links) {
        const QString target = link.canonicalFilePath();
        if (link.isSymLink() && !target.isEmpty() && !stableOf.contains(target))
            stableOf.insert(target, link.absoluteFilePath());
    }
    return stableOf;
}

QList<ComPortMap::PresentDevice> ComPortMap::presentDevices(const QString &byIdDir)
{
    const QMap<QString, QString> stableOf = stableLinks(byIdDir);

    QList<PresentDevice> result;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        PresentDevice d;
        d.path = info.systemLocation();
        d.stablePath = stableOf.value(canonical(d.path));
        const QString maker = info.manufacturer().trimmed();
        const QString product = info.description().trimmed();
        if (maker.isEmpty() || product.startsWith(maker, Qt::CaseInsensitive))
            d.description = product;
        else if (product.isEmpty())
            d.description = maker;
        else
            d.description = maker + u' ' + product;
        result.append(d);
    }
    return result;
}

const ComPortMap::PresentDevice *ComPortMap::findPresent(const QString &device) const
{
    const QString key = canonical(device);
    for (const PresentDevice &d : m_present) {
        if (canonical(d.path) == key || (!d.stablePath.isEmpty() && d.stablePath == device))
            return &d;
    }
    return nullptr;
}

QString ComPortMap::describe(int com) const
{
    const QString dev = device(com);
    if (dev.isEmpty())
        return QStringLiteral("no device");
    if (dev == Loopback)
        return QStringLiteral("loopback plug");

    QString text = dev;
    const PresentDevice *present = findPresent(dev);
    if (present && canonical(present->path) != dev && present->path != dev)
        text += QStringLiteral(" = ") + present->path;
    if (present && !present->description.isEmpty())
        text += QStringLiteral(" (") + present->description + u')';
    else if (!QFileInfo::exists(dev))
        text += QStringLiteral(" (not connected)");
    return text;
}
