#include "dialogwatch.h"

#include <QApplication>
#include <QPushButton>

QMessageBox *visibleMessageBox()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
            return box;
    }
    return nullptr;
}

ModalWatcher::ModalWatcher(std::function<void(QWidget *)> action)
    : m_action(std::move(action))
{
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &ModalWatcher::poll);
    m_timer.start();
}

void ModalWatcher::poll()
{
    QWidget *w = QApplication::activePopupWidget();
    if (!w)
        w = QApplication::activeModalWidget();
    if (!w || !w->isVisible() || m_handled.contains(w))
        return;
    m_handled.append(w);
    seen.append(QString::fromLatin1(w->metaObject()->className()));
    m_action(w);
}

MessageBoxLog::MessageBoxLog(std::function<void()> whileOpen)
    : m_whileOpen(std::move(whileOpen))
{
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &MessageBoxLog::poll);
    m_timer.start();
}

void MessageBoxLog::poll()
{
    // Any visible box counts, modal or not. Each showing is answered once: a
    // box may take a moment to hide after OK, and the same box shown again
    // is a new one.
    m_handled.removeIf([](const QPointer<QMessageBox> &box) { return !box || !box->isVisible(); });
    for (QWidget *w : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(w);
        if (!box || !box->isVisible() || m_handled.contains(box))
            continue;
        m_handled.append(box);
        boxes.append({box->windowTitle(), box->text(), box->detailedText(), box->icon(), box->standardButtons()});
        if (m_whileOpen)
            m_whileOpen();
        box->button(QMessageBox::Ok)->click();
    }
}

QStringList MessageBoxLog::texts() const
{
    QStringList list;
    for (const Box &box : boxes)
        list.append(box.text);
    return list;
}

QStringList MessageBoxLog::titles() const
{
    QStringList list;
    for (const Box &box : boxes)
        list.append(box.title);
    return list;
}
