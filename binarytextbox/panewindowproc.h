#pragma once

#include "keycodes.h"

#include <QObject>
#include <Qt>

class ByteLineEdit;
class QKeyEvent;

// A pane's window procedure: the event filter that sees every event of an
// attached box before the box does, makes the edits a pane makes differently
// from a plain box (Enter, cut, paste), runs the clipboard keys with the
// private clipboard block and
// opens the pane's context menu. What it does not handle reaches the box
// unchanged.
namespace BinaryTextBox {

// The key-down handler: makes the pane's own edit for the key and sets `key`
// to 0 when the pane has handled the key itself (the box must not see it).
void PaneKeyDown(ByteLineEdit *box, qint16 &key, int mask);

// The character handler: sets `ch` (a typed character code, 0..255) to 0 when
// the character must not reach the box, which types the others.
void PaneKeyPress(ByteLineEdit *box, qint16 &ch);

class PaneWindowProc : public QObject
{
    Q_OBJECT

public:
    explicit PaneWindowProc(QObject *parent = nullptr)
        : QObject(parent)
    {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool keyPress(ByteLineEdit *box, QKeyEvent *event);
};

} // namespace BinaryTextBox
