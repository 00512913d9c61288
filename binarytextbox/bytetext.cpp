#include "bytetext.h"

QByteArray DisplayText(const QByteArray &bytes)
{
    QByteArray shown = bytes;
    shown.replace('\0', ' ');
    return shown;
}
