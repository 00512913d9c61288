#pragma once

#include <QByteArray>
#include <QByteArrayView>

class ByteLineEdit;

// The edits that change a pane's bytes and its visible text together, shared
// by the pane's keys and its context menu.
namespace BinaryTextBox {

// The bytes under the box's selection.
QByteArray SelectedBytes(const QByteArray &bytes, const ByteLineEdit *box);

// Replaces the selection's bytes with `insert`, in the bytes and (in display
// form) in the box, leaving the caret after the inserted bytes.
void ReplaceSelection(ByteLineEdit *box, QByteArray &bytes, QByteArrayView insert);

// Copies the selection's bytes to the clipboard, then removes them whether or
// not the clipboard took them.
void CutSelection(ByteLineEdit *box, QByteArray &bytes);

// Replaces the selection with the clipboard's bytes (nothing usable there:
// the selection is removed).
void PasteOverSelection(ByteLineEdit *box, QByteArray &bytes);

} // namespace BinaryTextBox
