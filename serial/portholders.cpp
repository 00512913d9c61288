#include "portholders.h"

#include "deviceinventory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The link's text as stored (readlink), which for /proc/<pid>/fd/<n> is the
// open file's path even when the link does not resolve for us.
QString linkText(const QByteArray &link)
{
    char buffer[4096];
    const ssize_t n = ::readlink(link.constData(), buffer, sizeof buffer - 1);
    if (n <= 0)
        return QString();
    return QFile::decodeName(QByteArray(buffer, int(n)));
}

QString readFirstLine(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(f.readLine()).trimmed();
}

QString userOf(const QString &pidDir)
{
    QFile f(pidDir + QStringLiteral("/status"));
    if (f.open(QIODevice::ReadOnly)) {
        while (!f.atEnd()) {
            const QByteArray line = f.readLine();
            if (!line.startsWith("Uid:"))
                continue;
            const QList<QByteArray> fields = line.mid(4).simplified().split(' ');
            bool ok = false;
            const uint uid = fields.value(0).toUInt(&ok);
            if (!ok)
                break;
            if (const passwd *pw = ::getpwuid(uid))
                return QString::fromLocal8Bit(pw->pw_name);
            return QString::number(uid);
        }
    }
    // No status to read: the directory's owner is the process's.
    struct stat st;
    if (::stat(QFile::encodeName(pidDir).constData(), &st) == 0) {
        if (const passwd *pw = ::getpwuid(st.st_uid))
            return QString::fromLocal8Bit(pw->pw_name);
        return QString::number(st.st_uid);
    }
    return QStringLiteral("?");
}

} // namespace

PortHolders::Scan PortHolders::find(const QString &device, const QString &procRoot)
{
    Scan scan;
    // The names an open file of this device can carry: the path as given and
    // the node it resolves to.
    QStringList names{QDir::cleanPath(device)};
    const QString node = QFileInfo(device).canonicalFilePath();
    if (!node.isEmpty() && !names.contains(node))
        names.append(node);

    const QStringList pids = QDir(procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : pids) {
        bool isPid = false;
        const qint64 pid = name.toLongLong(&isPid);
        if (!isPid)
            continue;
        const QString pidDir = procRoot + u'/' + name;
        const QByteArray fdDir = QFile::encodeName(pidDir + QStringLiteral("/fd"));
        DIR *dir = ::opendir(fdDir.constData());
        if (!dir) {
            // A process that ended meanwhile is simply gone; one we may not
            // look into might be the holder.
            if (errno == EACCES || errno == EPERM)
                ++scan.unreadable;
            continue;
        }
        bool holds = false;
        while (const dirent *entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            const QString target = linkText(fdDir + '/' + entry->d_name);
            if (!target.isEmpty() && names.contains(target)) {
                holds = true;
                break;
            }
        }
        ::closedir(dir);
        if (!holds)
            continue;
        Holder holder;
        holder.pid = pid;
        holder.command = readFirstLine(pidDir + QStringLiteral("/comm"));
        holder.user = userOf(pidDir);
        scan.holders.append(holder);
    }
    std::sort(scan.holders.begin(), scan.holders.end(), [](const Holder &a, const Holder &b) { return a.pid < b.pid; });
    return scan;
}

bool PortHolders::isModemProber(const Holder &holder)
{
    return holder.command == QLatin1String("ModemManager");
}

QString PortHolders::describe(const Scan &scan, const QString &device, const QString &udevMatch)
{
    QStringList lines;
    for (const Holder &h : scan.holders) {
        lines.append(QStringLiteral("Held by process %1 (%2), user %3.")
                         .arg(h.pid)
                         .arg(h.command.isEmpty() ? QStringLiteral("?") : h.command, h.user));
    }
    if (scan.unreadable > 0) {
        lines.append(QStringLiteral("%1 process%2 of other users could not be looked at; one of them may "
                                    "hold the device (\"sudo fuser -v %3\" shows every holder).")
                         .arg(scan.unreadable)
                         .arg(scan.unreadable == 1 ? QString() : QStringLiteral("es"), device));
    } else if (scan.holders.isEmpty()) {
        lines.append(QStringLiteral("No process has the device open now; another program may hold its "
                                    "lock file, or it has let go of it since."));
    }
    const bool prober = std::any_of(scan.holders.begin(), scan.holders.end(), &PortHolders::isModemProber);
    if (prober) {
        const QString match
            = udevMatch.isEmpty() ? QStringLiteral("KERNEL==\"%1\"").arg(QFileInfo(device).fileName()) : udevMatch;
        lines.append(QStringLiteral("ModemManager probes new serial devices for modems. To keep it off this one, give "
                                    "the device the udev property ID_MM_DEVICE_IGNORE, for example with the file "
                                    "/etc/udev/rules.d/99-serial-no-modem.rules holding the line\n"
                                    "    %1, ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n"
                                    "then run \"sudo udevadm control --reload\" and plug the device in again.")
                         .arg(match));
    }
    return lines.join(u'\n');
}

QString PortHolders::explain(const QString &device)
{
    const Scan scan = find(device);
    const DeviceInventory::Device info = DeviceInventory::lookup(device);
    return describe(scan, device, info.udevMatch());
}
