#include "paneedit.h"

#include "byteedit.h"
#include "bytelineedit.h"
#include "paneclipboard.h"

namespace BinaryTextBox {

QByteArray SelectedBytes(const QByteArray &bytes, const ByteLineEdit *box)
{
    return ByteEdit::Slice(bytes, box->SelStart(), box->SelStart() + box->SelLength());
}

void ReplaceSelection(ByteLineEdit *box, QByteArray &bytes, QByteArrayView insert)
{
    // The store changes first, by the same positions the box then edits.
    ByteEdit::Replace(bytes, box->SelStart(), box->SelLength(), insert);
    // One copy for the display form (a pasted block may be megabytes), with
    // NULs shown as spaces in place.
    QByteArray shown = insert.toByteArray();
    shown.replace('\0', ' ');
    box->setSelText(shown);
}

void CutSelection(ByteLineEdit *box, QByteArray &bytes)
{
    PutBytesOnClipboard(box->hWnd(), SelectedBytes(bytes, box));
    ReplaceSelection(box, bytes, {});
}

void PasteOverSelection(ByteLineEdit *box, QByteArray &bytes)
{
    const ClipboardBytes paste = ReadClipboardBytes(box->hWnd());
    ReplaceSelection(box, bytes, paste.bytes);
}

} // namespace BinaryTextBox
