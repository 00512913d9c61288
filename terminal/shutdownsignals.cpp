#include "shutdownsignals.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QSocketNotifier>
#include <QWidget>

#include <cerrno>
#include <utility>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int g_pipe[2] = {-1, -1};

void writeToPipe(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

ShutdownSignals::ShutdownSignals(QWidget *window, QObject *parent)
    : QObject(parent)
    , m_window(window)
{
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ShutdownSignals::onSignal);

    struct sigaction action = {};
    action.sa_handler = writeToPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i)
        ::sigaction(kSignals[i], &action, &m_previous[i]);
}

ShutdownSignals::~ShutdownSignals()
{
    if (!m_notifier)
        return;
    for (int i = 0; i < 3; ++i)
        ::sigaction(kSignals[i], &m_previous[i], nullptr);
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

bool ShutdownSignals::eventFilter(QObject *watched, QEvent *event)
{
    // Shown before its exec() starts its loop: dismissed from within it.
    if (event->type() == QEvent::Show) {
        if (auto *dialog = qobject_cast<QDialog *>(watched); dialog && dialog != m_window)
            QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
}

void ShutdownSignals::onSignal()
{
    char buffer[64];
    while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {
    }
    if (std::exchange(m_requested, true))
        return;

    // A menu or a modal box waits for the user, who may be gone (logged
    // out); each ends as if dismissed, so its loop returns. So does every
    // box that opens from here on, while the window is on its way out.
    for (int i = 0; i < 16 && QApplication::activePopupWidget(); ++i)
        QApplication::activePopupWidget()->close();
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    for (QWidget *w : windows) {
        if (auto *dialog = qobject_cast<QDialog *>(w); dialog && dialog->isVisible() && dialog != m_window)
            dialog->reject();
    }
    qApp->installEventFilter(this);
    // Closed once those loops have returned, as File > Exit closes it; the
    // program then ends even if a help window is still open.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_window)
                m_window->close();
            QCoreApplication::quit();
        },
        Qt::QueuedConnection);
}
