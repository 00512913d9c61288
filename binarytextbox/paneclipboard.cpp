#include "paneclipboard.h"

#include "clipboardblock.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace BinaryTextBox {

bool PutBytesOnClipboard(int ownerHandle, const QByteArray &bytes)
{
    Q_UNUSED(ownerHandle); // the toolkit's clipboard needs no owner window
    if (bytes.isEmpty())
        return false;
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    auto *data = new QMimeData;
    data->setData(QStringLiteral("text/plain"), ClipboardBlock::PlainTextPart(bytes));
    data->setData(QString::fromLatin1(ClipboardBlock::FormatName), ClipboardBlock::EncodeClipboardBlock(bytes));
    clipboard->setMimeData(data);
    return true;
}

QByteArray GetBytesFromClipboard(int ownerHandle)
{
    return ReadClipboardBytes(ownerHandle).bytes.toByteArray();
}

ClipboardBytes ReadClipboardBytes(int ownerHandle)
{
    Q_UNUSED(ownerHandle);
    ClipboardBytes result;
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return result;
    const QMimeData *data = clipboard->mimeData();
    if (!data)
        return result;
    const QString format = QString::fromLatin1(ClipboardBlock::FormatName);
    // The private block wins over the plain text; the text is converted only
    // when it is the one used, since it may be as large as the block.
    if (data->hasFormat(format)) {
        result.holder = data->data(format);
        if (!result.holder.isEmpty()) {
            result.bytes = ClipboardBlock::ClipboardBlockData(result.holder);
            return result;
        }
    }
    if (data->hasText()) {
        result.holder = ClipboardBlock::BytesFromPlainText(data->text());
        result.bytes = result.holder;
        return result;
    }
    result.holder.clear();
    result.bytes = {};
    return result;
}

bool ClipboardHasText()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    const QMimeData *data = clipboard->mimeData();
    return data && data->hasText();
}

} // namespace BinaryTextBox
