#include "portreplug.h"

#include "comportmap.h"
#include "serialportcontrol.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

PortReplug::PortReplug(SerialPortControl &comm, const ComPortMap &map, QObject *parent)
    : QObject(parent)
    , m_comm(comm)
    , m_map(map)
{
    m_retry.setInterval(RetryInterval);
    connect(&m_retry, &QTimer::timeout, this, &PortReplug::check);
    connect(&m_watcher, &DeviceWatcher::changed, this, [this] { check(); });
}

void PortReplug::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (!enabled)
        cancel();
}

QString PortReplug::identityOf(const QString &device, const QString &byIdDir)
{
    // Only a device path names something that can come back; the loopback
    // plug never goes, and a bare name would be looked for wherever the
    // program happens to run.
    if (!device.startsWith(u'/'))
        return QString();
    const QFileInfo info(device);
    if (QDir::cleanPath(info.absolutePath()) == QDir::cleanPath(byIdDir))
        return device;
    const QString node = info.canonicalFilePath();
    if (!node.isEmpty()) {
        const QMap<QString, QString> links = ComPortMap::stableLinks(byIdDir);
        const auto it = links.constFind(node);
        if (it != links.constEnd())
            return it.value();
    }
    return device;
}

bool PortReplug::isPresent(const QString &identity)
{
    const QString node = QFileInfo(identity).canonicalFilePath();
    struct stat st;
    return !node.isEmpty() && ::stat(QFile::encodeName(node).constData(), &st) == 0 && S_ISCHR(st.st_mode);
}

void PortReplug::portOpened()
{
    cancel();
    m_identity = identityOf(m_comm.DeviceName());
}

bool PortReplug::portLost()
{
    cancel();
    if (!m_enabled || m_identity.isEmpty())
        return false;
    m_opening = PortOpening{m_comm.PortNumber(), m_comm.ModeSettings(), m_comm.FlowControl(), m_comm.DtrEnabled(),
                            m_comm.RtsEnabled()};
    m_waiting = true;
    m_gone.start();
    m_seen.invalidate();
    const QString dir = QFileInfo(m_identity).absolutePath();
    QStringList dirs{QStringLiteral("/dev"), QStringLiteral("/dev/serial/by-id")};
    if (!dirs.contains(dir))
        dirs.append(dir);
    // Without inotify the one path is looked at now and then instead.
    if (!m_watcher.watch(dirs))
        m_retry.start();
    // It may be back already.
    check();
    return m_waiting;
}

void PortReplug::cancel()
{
    m_waiting = false;
    m_watcher.stop();
    m_retry.stop();
}

void PortReplug::check()
{
    if (!m_waiting)
        return;
    if (!isPresent(m_identity)) {
        m_seen.invalidate();
        if (m_watcher.isWatching())
            m_retry.stop();
        return;
    }
    if (!m_seen.isValid())
        m_seen.start();
    // Opened through the port's own mapping, as the user opened it.
    if (!ReopenPort(m_comm, m_openingSource ? m_openingSource() : m_opening)) {
        m_retry.start();
        return;
    }
    const qint64 gone = m_gone.elapsed();
    const qint64 toOpen = m_seen.elapsed();
    cancel();
    emit reopened(gone, toOpen);
}
