#include "clipboardblock.h"

#include <QStringView>

namespace ClipboardBlock {

QByteArray EncodeClipboardBlock(const QByteArray &bytes)
{
    const QByteArray count = QByteArray::number(bytes.size());
    QByteArray block;
    block.reserve(count.size() + 1 + bytes.size());
    block.append(count).append(',').append(bytes);
    return block;
}

QByteArray ParseClipboardBlock(const QByteArray &block)
{
    return ClipboardBlockData(block).toByteArray();
}

QByteArrayView ClipboardBlockData(QByteArrayView block)
{
    // The count is read digit by digit but never grows beyond the block's own
    // size: nothing is ever allocated or read by a count the block cannot back.
    const qsizetype size = block.size();
    qsizetype count = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char c = block.at(i);
        if (c < '0' || c > '9')
            break;
        count = count * 10 + (c - '0');
        if (count > size)
            count = size + 1; // saturate: more than the block can hold
    }
    const qsizetype comma = block.indexOf(',');
    const qsizetype dataStart = comma < 0 ? 0 : comma + 1;
    const qsizetype available = size - dataStart;
    return block.sliced(dataStart, qMin(count, available));
}

QByteArray PlainTextPart(const QByteArray &bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    return nul < 0 ? bytes : bytes.left(nul);
}

QString PlainTextFromBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(PlainTextPart(bytes));
}

QByteArray BytesFromPlainText(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    const QStringView view(text);
    for (qsizetype i = 0; i < view.size(); ++i) {
        const QChar c = view.at(i);
        if (c.unicode() == 0)
            break;
        if (c.unicode() <= 0xFF) {
            bytes.append(char(c.unicode()));
            continue;
        }
        // A surrogate pair is one character: encode both halves together.
        qsizetype len = 1;
        if (c.isHighSurrogate() && i + 1 < view.size() && view.at(i + 1).isLowSurrogate())
            len = 2;
        bytes.append(view.mid(i, len).toUtf8());
        i += len - 1;
    }
    return bytes;
}

} // namespace ClipboardBlock
