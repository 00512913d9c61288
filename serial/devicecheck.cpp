#include "devicecheck.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// The kernel's class of a character device ("tty", "mem", "misc"), empty when
// the device is not listed (pseudo-terminal slaves are not) or sysfs is absent.
QString deviceClass(dev_t device)
{
    const QString link = QStringLiteral("/sys/dev/char/%1:%2/subsystem").arg(major(device)).arg(minor(device));
    return QFileInfo(QFileInfo(link).symLinkTarget()).fileName();
}

} // namespace

QString NotSerialDeviceReason(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QString();

    const auto notSerial = [](const QString &what) { return QStringLiteral("not a serial device but %1").arg(what); };
    if (S_ISREG(st.st_mode))
        return notSerial(QStringLiteral("a regular file"));
    if (S_ISFIFO(st.st_mode))
        return notSerial(QStringLiteral("a named pipe (FIFO)"));
    if (S_ISDIR(st.st_mode))
        return notSerial(QStringLiteral("a directory"));
    if (S_ISSOCK(st.st_mode))
        return notSerial(QStringLiteral("a socket"));
    if (S_ISBLK(st.st_mode))
        return notSerial(QStringLiteral("a block device"));
    if (!S_ISCHR(st.st_mode))
        return notSerial(QStringLiteral("a special file"));

    // Opening the multiplexer makes a new pseudo-terminal whose other end
    // nobody holds; the port is the slave it hands out.
    constexpr unsigned ttyAuxMajor = 5, ptmxMinor = 2;
    if (major(st.st_rdev) == ttyAuxMajor && minor(st.st_rdev) == ptmxMinor)
        return notSerial(QStringLiteral("the pseudo-terminal multiplexer, which makes a new, unconnected "
                                        "pseudo-terminal on every open (use a /dev/pts/N device instead)"));

    const QString kind = deviceClass(st.st_rdev);
    if (!kind.isEmpty() && kind != QLatin1String("tty"))
        return notSerial(QStringLiteral("a character device of the kernel's \"%1\" class").arg(kind));
    return QString();
}
