#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

class QWidget;

// One key stroke as a test sends it. The key code alone does not say what
// a key types (the toolkit reports Key_unknown for many characters above
// 0x7F), so each stroke carries its text as X11 reports it: Delete comes
// with DEL, Ctrl+letter with its control code.
struct KeyStroke
{
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    QString text;
};
using KeyStrokes = QList<KeyStroke>;
Q_DECLARE_METATYPE(KeyStroke)
Q_DECLARE_METATYPE(KeyStrokes)

// A key with the text X11 gives it.
KeyStroke key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier);
// A key with the text given.
KeyStroke key(Qt::Key k, Qt::KeyboardModifiers m, const QString &text);
// A typed character; the key code is what a US keyboard would report.
KeyStroke typed(QChar c, Qt::KeyboardModifiers m = Qt::NoModifier);
KeyStroke typed(char16_t c, Qt::KeyboardModifiers m = Qt::NoModifier);
KeyStrokes typed(const QString &s);

// Presses and releases each in turn on `w`, as the toolkit delivers keys.
void send(QWidget *w, const KeyStroke &stroke);
void send(QWidget *w, const KeyStrokes &strokes);
