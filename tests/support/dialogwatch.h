#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

// The message box on screen now, if any.
QMessageBox *visibleMessageBox();

// Runs `action` once for every modal dialog, message box or popup menu that
// opens while it lives, from the event loop that the dialog or menu runs.
class ModalWatcher : public QObject
{
public:
    explicit ModalWatcher(std::function<void(QWidget *)> action);
    QStringList seen; // class names, in order

private:
    void poll();

    QTimer m_timer;
    QList<QPointer<QWidget>> m_handled;
    std::function<void(QWidget *)> m_action;
};

// Presses OK on every message box that opens while it lives and keeps what
// each said. `whileOpen` runs with the box still open, to look at the window
// behind it or let more happen meanwhile.
class MessageBoxLog : public QObject
{
public:
    struct Box
    {
        QString title, text, detail;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
    };

    explicit MessageBoxLog(std::function<void()> whileOpen = {});
    QList<Box> boxes; // in the order they opened

    QStringList texts() const;
    QStringList titles() const;

private:
    void poll();

    QTimer m_timer;
    QList<QPointer<QMessageBox>> m_handled;
    std::function<void()> m_whileOpen;
};
