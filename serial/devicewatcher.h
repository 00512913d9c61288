#pragma once

#include <QHash>
#include <QObject>
#include <QStringList>

class QSocketNotifier;

// Tells when entries appear in, vanish from or change in a few directories
// (/dev, /dev/serial/by-id, the folder of a mapped link), through inotify: no
// polling of the device tree. A directory that does not exist yet (by-id
// before the first adapter is plugged in) is watched for from its nearest
// existing parent and taken on as soon as it is created.
class DeviceWatcher : public QObject
{
    Q_OBJECT

public:
    explicit DeviceWatcher(QObject *parent = nullptr);
    ~DeviceWatcher() override;

    // Watches these directories (replacing any watched before). false when
    // inotify is not available; errorString() says why.
    bool watch(const QStringList &dirs);
    void stop();
    bool isWatching() const { return m_fd >= 0; }
    QString errorString() const { return m_error; }

signals:
    // Something happened to `path` (created, removed, renamed or its
    // attributes changed). Several events of one read come as several signals.
    void changed(const QString &path);

private:
    void addWatches();
    void onReadable();

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QStringList m_dirs;
    QHash<int, QString> m_watched; // watch descriptor to directory
    QString m_error;
};
