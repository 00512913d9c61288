#pragma once

#include <Qt>
#include <QtGlobal>

// Keyboard events in the terms the key handlers reason in: a virtual-key code
// for each toolkit key and a modifier mask.

// Modifier mask bits.
enum ModifierBit : int { MaskShift = 1, MaskCtrl = 2, MaskAlt = 4 };

// Virtual-key codes of the keys the handlers act on.
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
    VK_F1 = 0x70,
    VK_F10 = 0x79,
    VK_OTHER = 0xFF, // a key without a code of its own; never 0, which means consumed
};

// 1 Shift + 2 Ctrl + 4 Alt, from the event's own modifier flags.
int ModifierMaskOf(Qt::KeyboardModifiers modifiers);

// The virtual-key code of a toolkit key (never 0).
qint16 VirtualKeyOf(int qtKey);
