#include "devicewatcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

constexpr uint32_t WatchMask
    = IN_CREATE | IN_DELETE | IN_ATTRIB | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE_SELF | IN_ONLYDIR;

} // namespace

DeviceWatcher::DeviceWatcher(QObject *parent)
    : QObject(parent)
{}

DeviceWatcher::~DeviceWatcher()
{
    stop();
}

bool DeviceWatcher::watch(const QStringList &dirs)
{
    stop();
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        m_error = QStringLiteral("inotify: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_error.clear();
    m_dirs = dirs;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &DeviceWatcher::onReadable);
    addWatches();
    return true;
}

void DeviceWatcher::stop()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_watched.clear();
}

void DeviceWatcher::addWatches()
{
    for (const QString &wanted : std::as_const(m_dirs)) {
        // The directory itself, or the nearest parent that exists, to learn
        // when the rest of the way is created.
        QString dir = QDir::cleanPath(wanted);
        while (!QFileInfo(dir).isDir() && dir != QStringLiteral("/"))
            dir = QFileInfo(dir).path();
        const int wd = ::inotify_add_watch(m_fd, QFile::encodeName(dir).constData(), WatchMask);
        if (wd >= 0)
            m_watched.insert(wd, dir); // the same directory twice gives the same descriptor
    }
}

void DeviceWatcher::onReadable()
{
    alignas(inotify_event) char buffer[8192];
    bool dirsChanged = false;
    QStringList paths;
    for (;;) {
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (ssize_t at = 0; at < got;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            const QString dir = m_watched.value(event->wd);
            if (event->mask & (IN_IGNORED | IN_DELETE_SELF)) {
                m_watched.remove(event->wd);
                dirsChanged = true;
                continue;
            }
            if (dir.isEmpty() || event->len == 0)
                continue;
            const QString path = dir + QLatin1Char('/') + QFile::decodeName(event->name);
            if (event->mask & IN_ISDIR)
                dirsChanged = true; // perhaps a step towards a directory still to come
            paths.append(path);
        }
    }
    if (dirsChanged)
        addWatches();
    for (const QString &path : std::as_const(paths))
        emit changed(path);
}
