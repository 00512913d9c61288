#include "keystrokes.h"

#include <QTest>

KeyStroke key(Qt::Key k, Qt::KeyboardModifiers m)
{
    QString text;
    switch (k) {
    case Qt::Key_Backspace:
        text = QStringLiteral("\b");
        break;
    case Qt::Key_Delete:
        text = QStringLiteral("\x7f");
        break;
    case Qt::Key_Return:
        text = QStringLiteral("\r");
        break;
    case Qt::Key_Tab:
        text = QStringLiteral("\t");
        break;
    case Qt::Key_Escape:
        text = QStringLiteral("\x1b");
        break;
    default:
        if (k >= Qt::Key_A && k <= Qt::Key_Z && (m & Qt::ControlModifier))
            text = QChar(char16_t(k - Qt::Key_A + 1));
        break;
    }
    return {k, m, text};
}

KeyStroke key(Qt::Key k, Qt::KeyboardModifiers m, const QString &text)
{
    return {k, m, text};
}

KeyStroke typed(QChar c, Qt::KeyboardModifiers m)
{
    const char16_t u = c.unicode();
    Qt::Key k = Qt::Key_unknown;
    if (u >= 'a' && u <= 'z')
        k = Qt::Key(Qt::Key_A + (u - 'a'));
    else if (u >= 0x20 && u < 0x7F)
        k = Qt::Key(c.toUpper().unicode());
    return {k, m, QString(c)};
}

KeyStroke typed(char16_t c, Qt::KeyboardModifiers m)
{
    return typed(QChar(c), m);
}

KeyStrokes typed(const QString &s)
{
    KeyStrokes out;
    for (QChar c : s)
        out << typed(c);
    return out;
}

void send(QWidget *w, const KeyStroke &stroke)
{
    QTest::sendKeyEvent(QTest::Click, w, stroke.key, stroke.text, stroke.modifiers);
}

void send(QWidget *w, const KeyStrokes &strokes)
{
    for (const KeyStroke &s : strokes)
        send(w, s);
}
