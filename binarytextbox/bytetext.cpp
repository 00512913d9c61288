#include "bytetext.h"

QByteArray DisplayText(const QByteArray &bytes)
{
    QByteArray shown = bytes;
    shown.replace('\0', ' ');
    return shown;
}

void AppendBytes(QByteArray &to, QByteArrayView bytes)
{
    const qsizetype needed = to.size() + bytes.size();
    if (needed > to.capacity())
        to.reserve(qMax(needed, to.size() + to.size() / 2));
    to.append(bytes);
}
