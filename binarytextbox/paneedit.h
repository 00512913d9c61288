#pragma once

#include <QByteArray>
#include <QByteArrayView>

class ByteLineEdit;

// The edits a pane makes itself, shared by the pane's keys and its context
// menu. The box holds the pane's bytes, so each is one edit of the box.
namespace BinaryTextBox {

// The bytes under the box's selection.
QByteArray SelectedBytes(const ByteLineEdit *box);

// Replaces the selection's bytes with `insert`, leaving the caret after the
// inserted bytes.
void ReplaceSelection(ByteLineEdit *box, QByteArrayView insert);

// Copies the selection's bytes to the clipboard, then removes them whether or
// not the clipboard took them.
void CutSelection(ByteLineEdit *box);

// Replaces the selection with the clipboard's bytes (nothing usable there:
// the selection is removed).
void PasteOverSelection(ByteLineEdit *box);

} // namespace BinaryTextBox
