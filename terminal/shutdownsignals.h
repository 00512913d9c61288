#pragma once

#include <QObject>
#include <QPointer>

#include <csignal>

class QSocketNotifier;
class QWidget;

// Ends the program as File > Exit does when the desktop or a terminal asks it
// to: SIGTERM (kill, a shutdown), SIGINT (Ctrl+C in the starting terminal)
// and SIGHUP (logout, the starting terminal closed). The settings are saved,
// and the port closes with the window. The signal handler only writes a byte
// to a pipe; the window is closed from the event loop, where it is safe.
// One per process.
class ShutdownSignals : public QObject
{
    Q_OBJECT

public:
    explicit ShutdownSignals(QWidget *window, QObject *parent = nullptr);
    ~ShutdownSignals() override;

    // A signal has come; the window closes (or has closed) because of it.
    bool requested() const { return m_requested; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onSignal();

    QPointer<QWidget> m_window;
    QSocketNotifier *m_notifier = nullptr;
    bool m_requested = false;
    struct sigaction m_previous[3] = {};
};
