#pragma once

#include "linepulser.h"
#include "pacing.h"
#include "sendfileprogress.h"

#include <QObject>
#include <QPointer>

class FileSend;
class PacedWriter;
class QAction;
class QLabel;
class QMenu;
class QSettings;
class QStatusBar;
class QToolButton;
class SerialPortControl;

// The terminal's sending tools: paced sending for the Send button, sending a
// file with its progress window, break and line pulses, and the count of
// bytes still waiting to go out (with a way to drop them) in the status bar.
// The window hands it its port, its session menu and its status bar.
class SendingTools : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxBreak = 10000; // ms

    SendingTools(SerialPortControl *port, QMenu *menu, QStatusBar *statusBar, QWidget *window);
    ~SendingTools() override;

    // Sends bytes at the pace set (straight to the port when unpaced).
    void send(const QByteArray &bytes);

    // The pacing and the last durations, from and to the settings.
    void readSettings(const QSettings &settings);
    void writeSettings(QSettings &settings) const;

    void setPacing(const Pacing &pacing);
    Pacing pacing() const;

    // Starts sending a file with its progress window; false, with the
    // reason shown, when the file cannot be read or the port is closed.
    bool startFileSend(const QString &path);
    // Break and pulses with the durations given; false, with the reason in
    // the status bar, when they cannot be done.
    bool sendBreak(int milliseconds);
    bool pulse(LinePulser::Line line, int milliseconds);
    // Drops every byte not yet on the line.
    void dropOutput();
    // The window is closing: the file send stops, waiting bytes are
    // dropped, pulses end with their lines put back.
    void stop();

    PacedWriter *writer() const { return m_writer; }
    FileSend *fileSend() const { return m_fileSend; }
    SendFileProgress *progress() const { return m_progress; }

    // Menu handlers: they ask for what they need, then act.
    void mnuSendFile_Click();
    void mnuSendPacing_Click();
    void mnuSendBreak_Click();
    void mnuPulseDTR_Click();
    void mnuPulseRTS_Click();

    QAction *mnuSendFile = nullptr;
    QAction *mnuSendPacing = nullptr;
    QAction *mnuSendBreak = nullptr;
    QAction *mnuPulseDTR = nullptr;
    QAction *mnuPulseRTS = nullptr;
    QAction *mnuDropOutput = nullptr;
    QLabel *lblQueued = nullptr;
    QToolButton *cmdDropQueued = nullptr;

private:
    void showPending(qint64 bytes);
    void onFileSendFinished(bool completed, const QString &reason);
    void tell(const QString &message);
    void askPulse(LinePulser::Line line);

    QPointer<SerialPortControl> m_port;
    QPointer<QStatusBar> m_statusBar;
    QWidget *m_window = nullptr;
    PacedWriter *m_writer = nullptr;
    FileSend *m_fileSend = nullptr;
    LinePulser *m_pulser = nullptr;
    QPointer<SendFileProgress> m_progress;
    int m_breakMs = 250;
    int m_pulseMs = 100;
    QString m_lastDir;
};
