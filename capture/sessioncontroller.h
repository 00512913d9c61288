#pragma once

#include "sessionrecord.h"
#include "sessionwriter.h"

#include <QFile>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <atomic>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QProgressDialog;
class QStatusBar;
class QThread;
class QWidget;
class SerialPortControl;

// Puts the session record behind a window: makes the record, sets it as the
// port's line observer, fills the "&Session" menu with saving and live
// capture, shows the record's storage trouble in the status bar, and offers
// back the spools a crashed run left behind.
class SessionController : public QObject
{
    Q_OBJECT

public:
    // `spoolDirectory` empty: SessionRecord::defaultDirectory().
    SessionController(SerialPortControl *control, QMenu *menu, QStatusBar *status, QWidget *window,
                      const QString &spoolDirectory = QString());
    ~SessionController() override;

    SessionRecord *record() const { return m_record.get(); }

    // The idle gap that cuts pcapng packets; 0 (the default) follows the
    // port's mode: 3.5 character times.
    void setPacketGap(qint64 gapNs) { m_gapNs = gapNs; }
    SessionWriter::Options writerOptions(SessionFormat format, quint8 rawKind) const;

    // What the menu items do once the user has chosen; public for tests.
    // A save runs beside the window and reports through saveFinished().
    bool startSave(const QString &path, SessionFormat format, quint8 rawKind = RecordEvent::Received);
    bool isSaving() const { return m_saveThread != nullptr; }
    bool startLiveCapture(const QString &path, SessionFormat format, quint8 rawKind = RecordEvent::Received);
    void stopLiveCapture();
    bool isCapturing() const { return m_capture != nullptr; }

    // Asks about every spool left by a run that did not end cleanly: save it
    // (as the pcapng file it is), discard it, or leave it for later. The
    // questions do not block the window.
    void offerOrphanedSpools();

    QAction *saveAction() const { return m_save; }
    QAction *startCaptureAction() const { return m_startCapture; }
    QAction *stopCaptureAction() const { return m_stopCapture; }

signals:
    void saveFinished(bool ok, const QString &message);
    void captureStopped(const QString &message);

private:
    void saveSession();
    void startCaptureFromMenu();
    // Asks for a file and a format; false when cancelled.
    bool askFile(const QString &title, QString *path, SessionFormat *format, quint8 *rawKind);
    void captureEvents(qint64 first, qint64 count);
    void settleCapture();
    // Why the capture's writer or file failed.
    QString captureError() const;
    // Ends the live capture; gives the name of its file.
    QString endCapture();
    void failCapture(const QString &why);
    void saveDone();
    void saveOrphan(const QString &spool);
    void showProblem(const QString &message);
    void updateActions();
    void message(const QString &text);
    void warn(const QString &title, const QString &text);

    QPointer<SerialPortControl> m_control;
    QPointer<QStatusBar> m_status;
    QWidget *m_window;
    std::unique_ptr<SessionRecord> m_record;
    qint64 m_gapNs = 0;

    QAction *m_save = nullptr;
    QAction *m_startCapture = nullptr;
    QAction *m_stopCapture = nullptr;
    QLabel *m_problem = nullptr;

    // A save in progress.
    QThread *m_saveThread = nullptr;
    QProgressDialog *m_progress = nullptr;
    QTimer m_progressTimer;
    std::atomic<qint64> m_saveDone{0};
    std::atomic<bool> m_saveCancel{false};
    qint64 m_saveTotal = 0;
    QString m_savePath;
    QString m_saveError;

    // A live capture in progress.
    std::unique_ptr<QFile> m_captureFile;
    std::unique_ptr<SessionWriter> m_capture;
    QTimer m_settleTimer;

    // Spools whose question is on screen.
    QStringList m_offered;
};
