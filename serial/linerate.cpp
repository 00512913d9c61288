#include "linerate.h"

// termios2 and its ioctls; <termios.h> must stay out of this file, since it
// defines a struct termios of its own that clashes with the kernel's.
#include <asm/termbits.h>
#include <sys/ioctl.h>

std::optional<qint32> ReadLineRate(int fd)
{
    struct termios2 tio = {};
    if (fd < 0 || ::ioctl(fd, TCGETS2, &tio) != 0)
        return std::nullopt;
    // c_ospeed holds the rate whether it was set by a Bnnn constant or
    // through BOTHER; it never exceeds what a qint32 rate asked for can be
    // unless the driver made it up.
    if (tio.c_ospeed == 0 || tio.c_ospeed > 2147483647u)
        return std::nullopt;
    return qint32(tio.c_ospeed);
}

QString LineRateRefusal(int fd, qint32 rate)
{
    const std::optional<qint32> actual = ReadLineRate(fd);
    if (!actual || *actual == rate)
        return QString();
    return QStringLiteral("the device does not accept %1 baud (its driver set %2)").arg(rate).arg(*actual);
}
