#include "sendingtools.h"

#include "filesend.h"
#include "pacedwriter.h"
#include "sendfileprogress.h"
#include "serialportcontrol.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolButton>

namespace {

constexpr int MessageTime = 8000; // ms a status bar message stays

int readMs(const QSettings &settings, const char *key, int fallback, int maximum)
{
    bool ok = false;
    const int value
        = settings.value(QLatin1String(Pacing::SettingsGroup) + u'/' + QLatin1String(key)).toString().toInt(&ok);
    return ok && value >= 1 && value <= maximum ? value : fallback;
}

// The pacing dialog: two delays in milliseconds.
bool askPacing(QWidget *parent, Pacing *pacing)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("SendPacingDialog"));
    dialog.setWindowTitle(QStringLiteral("Send Pacing"));
    auto *form = new QFormLayout(&dialog);
    auto spin = [&dialog](const QString &name, int value) {
        auto *box = new QSpinBox(&dialog);
        box->setObjectName(name);
        box->setRange(0, Pacing::MaxDelay);
        box->setSuffix(QStringLiteral(" ms"));
        box->setValue(value);
        return box;
    };
    QSpinBox *byteDelay = spin(QStringLiteral("spnByteDelay"), pacing->byteDelay);
    QSpinBox *lineDelay = spin(QStringLiteral("spnLineDelay"), pacing->lineDelay);
    form->addRow(QStringLiteral("Delay after each byte:"), byteDelay);
    form->addRow(QStringLiteral("Delay after each line end:"), lineDelay);
    auto *note = new QLabel(QStringLiteral("Send and Send File... both keep to these delays.\n"
                                           "A line end is LF, or CR without LF after it."),
                            &dialog);
    form->addRow(note);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    pacing->byteDelay = byteDelay->value();
    pacing->lineDelay = lineDelay->value();
    return true;
}

} // namespace

SendingTools::SendingTools(SerialPortControl *port, QMenu *menu, QStatusBar *statusBar, QWidget *window)
    : QObject(window)
    , m_port(port)
    , m_statusBar(statusBar)
    , m_window(window)
{
    m_writer = new PacedWriter(port, this);
    m_fileSend = new FileSend(m_writer, this);
    m_pulser = new LinePulser(port, this);

    auto action = [this, menu](const QString &name, const QString &text, void (SendingTools::*slot)()) {
        QAction *a = menu->addAction(text);
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    mnuSendFile
        = action(QStringLiteral("mnuSendFile"), QStringLiteral("Send &File..."), &SendingTools::mnuSendFile_Click);
    mnuSendPacing = action(QStringLiteral("mnuSendPacing"), QStringLiteral("Send Pa&cing..."),
                           &SendingTools::mnuSendPacing_Click);
    mnuSendBreak
        = action(QStringLiteral("mnuSendBreak"), QStringLiteral("Send &Break..."), &SendingTools::mnuSendBreak_Click);
    mnuPulseDTR
        = action(QStringLiteral("mnuPulseDTR"), QStringLiteral("Pulse &DTR..."), &SendingTools::mnuPulseDTR_Click);
    mnuPulseRTS
        = action(QStringLiteral("mnuPulseRTS"), QStringLiteral("Pulse &RTS..."), &SendingTools::mnuPulseRTS_Click);
    mnuDropOutput
        = action(QStringLiteral("mnuDropOutput"), QStringLiteral("Drop &Queued Output"), &SendingTools::dropOutput);
    mnuDropOutput->setEnabled(false);
    menu->addSeparator();

    lblQueued = new QLabel(statusBar);
    lblQueued->setObjectName(QStringLiteral("lblQueued"));
    lblQueued->setToolTip(QStringLiteral("Bytes sent from here that the line has not taken yet"));
    cmdDropQueued = new QToolButton(statusBar);
    cmdDropQueued->setObjectName(QStringLiteral("cmdDropQueued"));
    cmdDropQueued->setText(QStringLiteral("Drop"));
    cmdDropQueued->setToolTip(QStringLiteral("Drop the bytes still waiting to go out"));
    cmdDropQueued->setAutoRaise(true);
    // Reached from the menu as well; it stays out of the form's tab order.
    cmdDropQueued->setFocusPolicy(Qt::NoFocus);
    statusBar->addPermanentWidget(lblQueued);
    statusBar->addPermanentWidget(cmdDropQueued);
    lblQueued->hide();
    cmdDropQueued->hide();
    connect(cmdDropQueued, &QToolButton::clicked, this, &SendingTools::dropOutput);
    connect(m_writer, &PacedWriter::pendingChanged, this, &SendingTools::showPending);
    connect(m_fileSend, &FileSend::finished, this, &SendingTools::onFileSendFinished);
}

SendingTools::~SendingTools() = default;

void SendingTools::send(const QByteArray &bytes)
{
    m_writer->write(bytes);
}

void SendingTools::readSettings(const QSettings &settings)
{
    m_writer->setPacing(Pacing::read(settings));
    m_breakMs = readMs(settings, "BreakDuration", m_breakMs, MaxBreak);
    m_pulseMs = readMs(settings, "PulseDuration", m_pulseMs, LinePulser::MaxDuration);
}

void SendingTools::writeSettings(QSettings &settings) const
{
    m_writer->pacing().write(settings);
    const QString group = QLatin1String(Pacing::SettingsGroup);
    settings.setValue(group + QStringLiteral("/BreakDuration"), QString::number(m_breakMs));
    settings.setValue(group + QStringLiteral("/PulseDuration"), QString::number(m_pulseMs));
}

void SendingTools::setPacing(const Pacing &pacing)
{
    m_writer->setPacing(pacing);
}

Pacing SendingTools::pacing() const
{
    return m_writer->pacing();
}

bool SendingTools::startFileSend(const QString &path)
{
    if (!m_port || !m_port->IsOpen()) {
        tell(QStringLiteral("Send File: no port is open."));
        return false;
    }
    QString error;
    if (!m_fileSend->start(path, &error)) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Send File"), QStringLiteral("The file cannot be sent."),
                        QMessageBox::Ok, m_window);
        box.setObjectName(QStringLiteral("SendFileErrorBox"));
        box.setInformativeText(error);
        box.exec();
        return false;
    }
    m_lastDir = QFileInfo(path).absolutePath();
    mnuSendFile->setEnabled(false);
    if (!m_progress)
        m_progress = new SendFileProgress(m_fileSend, m_window);
    m_progress->show();
    m_progress->raise();
    return true;
}

void SendingTools::onFileSendFinished(bool completed, const QString &reason)
{
    mnuSendFile->setEnabled(true);
    if (m_progress)
        m_progress->hide();
    if (completed) {
        tell(QStringLiteral("Sent %1: %2 bytes in %3 s")
                 .arg(m_fileSend->fileName(), QLocale(QLocale::English).toString(m_fileSend->total()))
                 .arg(double(m_fileSend->elapsedMs()) / 1000.0, 0, 'f', 1));
    } else {
        tell(QStringLiteral("Send File %1 stopped: %2").arg(m_fileSend->fileName(), reason));
    }
}

bool SendingTools::sendBreak(int milliseconds)
{
    if (!m_port || !m_port->IsOpen()) {
        tell(QStringLiteral("Send Break: no port is open."));
        return false;
    }
    if (!m_port->SendBreak(milliseconds)) {
        tell(QStringLiteral("Send Break: the device did not take the break (or one is on already)."));
        return false;
    }
    tell(QStringLiteral("Break on the line for %1 ms").arg(milliseconds));
    return true;
}

bool SendingTools::pulse(LinePulser::Line line, int milliseconds)
{
    QString error;
    const QString name = line == LinePulser::Dtr ? QStringLiteral("DTR") : QStringLiteral("RTS");
    if (!m_pulser->pulse(line, milliseconds, &error)) {
        tell(QStringLiteral("Pulse %1: %2").arg(name, error));
        return false;
    }
    tell(QStringLiteral("Pulsing %1 for %2 ms").arg(name).arg(milliseconds));
    return true;
}

void SendingTools::dropOutput()
{
    const qint64 dropped = m_writer->pending();
    if (m_fileSend->isRunning())
        m_fileSend->cancel(); // its remaining bytes would follow at once otherwise
    else
        m_writer->drop();
    if (dropped > 0)
        tell(QStringLiteral("Dropped %1 bytes that were waiting to go out")
                 .arg(QLocale(QLocale::English).toString(dropped)));
}

void SendingTools::stop()
{
    m_fileSend->cancel();
    m_writer->drop();
    m_pulser->finishAll();
    if (m_progress)
        m_progress->hide();
}

void SendingTools::showPending(qint64 bytes)
{
    const bool waiting = bytes > 0;
    lblQueued->setText(QStringLiteral("Queued: %1 bytes").arg(QLocale(QLocale::English).toString(bytes)));
    lblQueued->setVisible(waiting);
    cmdDropQueued->setVisible(waiting);
    mnuDropOutput->setEnabled(waiting);
}

void SendingTools::tell(const QString &message)
{
    if (m_statusBar)
        m_statusBar->showMessage(message, MessageTime);
}

void SendingTools::mnuSendFile_Click()
{
    const QString path = QFileDialog::getOpenFileName(m_window, QStringLiteral("Send File"), m_lastDir);
    if (!path.isEmpty())
        startFileSend(path);
}

void SendingTools::mnuSendPacing_Click()
{
    Pacing p = pacing();
    if (askPacing(m_window, &p))
        setPacing(p);
}

void SendingTools::mnuSendBreak_Click()
{
    bool ok = false;
    const int ms = QInputDialog::getInt(m_window, QStringLiteral("Send Break"), QStringLiteral("Break duration (ms):"),
                                        m_breakMs, 1, MaxBreak, 10, &ok);
    if (!ok)
        return;
    m_breakMs = ms;
    sendBreak(ms);
}

void SendingTools::askPulse(LinePulser::Line line)
{
    const QString name = line == LinePulser::Dtr ? QStringLiteral("DTR") : QStringLiteral("RTS");
    bool ok = false;
    const int ms = QInputDialog::getInt(m_window, QStringLiteral("Pulse %1").arg(name),
                                        QStringLiteral("Turn %1 over for (ms), then back:").arg(name), m_pulseMs, 1,
                                        LinePulser::MaxDuration, 10, &ok);
    if (!ok)
        return;
    m_pulseMs = ms;
    pulse(line, ms);
}

void SendingTools::mnuPulseDTR_Click()
{
    askPulse(LinePulser::Dtr);
}

void SendingTools::mnuPulseRTS_Click()
{
    askPulse(LinePulser::Rts);
}
