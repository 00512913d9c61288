#pragma once

#include <QObject>
#include <Qt>

class ByteLineEdit;
class QKeyEvent;

// A pane's window procedure: the event filter that sees every event of an
// attached box before the box does, keeps the pane's bytes in step with each
// keyboard edit, runs the clipboard keys with the private clipboard block and
// opens the pane's context menu. What it does not handle reaches the box
// unchanged.
namespace BinaryTextBox {

// Modifier mask bits as the key handlers see them.
enum ModifierBit : int { MaskShift = 1, MaskCtrl = 2, MaskAlt = 4 };

// Virtual-key codes of the keys the pane acts on.
enum VirtualKey : qint16 {
    VK_BACK = 0x08,
    VK_TAB = 0x09,
    VK_RETURN = 0x0D,
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12,
    VK_ESCAPE = 0x1B,
    VK_INSERT = 0x2D,
    VK_DELETE = 0x2E,
    VK_C = 0x43,
    VK_V = 0x56,
    VK_X = 0x58,
    VK_F10 = 0x79,
    VK_OTHER = 0xFF, // a key without a code of its own; never 0, which means consumed
};

// 1 Shift + 2 Ctrl + 4 Alt, from the event's own modifier flags.
int ModifierMaskOf(Qt::KeyboardModifiers modifiers);

// The virtual-key code of a toolkit key (never 0).
qint16 VirtualKeyOf(int qtKey);

// The key-down handler: edits the pane's bytes for the key and sets `key` to 0
// when the pane has handled the key itself (the box must not see it).
void PaneKeyDown(ByteLineEdit *box, qint16 &key, int mask);

// The character handler: edits the pane's bytes for a typed character code
// (0..255) and sets `ch` to 0 when the character must not reach the box.
void PaneKeyPress(ByteLineEdit *box, qint16 &ch);

class PaneWindowProc : public QObject
{
    Q_OBJECT

public:
    explicit PaneWindowProc(QObject *parent = nullptr) : QObject(parent) { }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool keyPress(ByteLineEdit *box, QKeyEvent *event);
};

} // namespace BinaryTextBox
