#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Cut, copy and paste of a pane's bytes: plain text for other programs beside
// the private "NerovaBString" block that carries every byte value, NULs
// included, between panes and between running copies of the program.
namespace BinaryTextBox {

// Places the bytes on the clipboard as plain text (up to the first NUL) and as
// the private block. An empty byte string leaves the clipboard as it was.
// Returns whether the private block was placed.
bool PutBytesOnClipboard(int ownerHandle, const QByteArray &bytes);

// The private block's bytes when the clipboard holds one, else the plain
// text's, else nothing.
QByteArray GetBytesFromClipboard(int ownerHandle);

// The same bytes without copying a private block: `bytes` views into
// `holder`, which keeps the clipboard's data alive. For large pastes.
struct ClipboardBytes
{
    QByteArray holder;
    QByteArrayView bytes;
};
ClipboardBytes ReadClipboardBytes(int ownerHandle);

// Whether the clipboard holds plain text (what enables a pane's Paste).
bool ClipboardHasText();

} // namespace BinaryTextBox
