#include "scratchfile.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int openUnlinkedFile(const QString &folder, const char *namePrefix)
{
    const QByteArray dir = QFile::encodeName(folder);
    int fd = ::open(dir.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    // These are how a kernel or file system without O_TMPFILE refuses it;
    // any other error would stop a named file as well.
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    QByteArray name = dir + '/' + namePrefix + "-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0)
        ::unlink(name.constData());
    return fd;
}

QString folderError(const QString &folder, int error)
{
    return QStringLiteral("%1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(error)));
}
