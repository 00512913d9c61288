#include "sessioncontroller.h"

#include "idlegapsplitter.h"
#include "serialportcontrol.h"

#include <QAbstractButton>
#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSaveFile>
#include <QStatusBar>
#include <QThread>

namespace {

// Events written between progress updates and cancel checks.
constexpr qint64 SaveStep = 8192;
// Fallback idle gap while no port has been opened (no mode known).
constexpr qint64 DefaultGapNs = 5000000;

const QString PcapngFilter = QStringLiteral("pcapng capture (*.pcapng)");
const QString TextFilter = QStringLiteral("Text log (*.log *.txt)");
const QString RawFilter = QStringLiteral("Raw bytes (*.bin *.raw)");

QString formatName(SessionFormat f, quint8 rawKind)
{
    switch (f) {
    case SessionFormat::Pcapng:
        return QStringLiteral("pcapng");
    case SessionFormat::TextLog:
        return QStringLiteral("text log");
    case SessionFormat::Raw:
        return rawKind == RecordEvent::Sent ? QStringLiteral("raw sent bytes") : QStringLiteral("raw received bytes");
    }
    return QString();
}

} // namespace

SessionController::SessionController(SerialPortControl *control, QMenu *menu, QStatusBar *status, QWidget *window,
                                     const QString &spoolDirectory)
    : QObject(window)
    , m_control(control)
    , m_status(status)
    , m_window(window)
    , m_record(std::make_unique<SessionRecord>(spoolDirectory))
{
    setObjectName(QStringLiteral("sessionController"));
    m_save = menu->addAction(QStringLiteral("Save Session..."));
    m_save->setObjectName(QStringLiteral("mnuSaveSession"));
    m_startCapture = menu->addAction(QStringLiteral("Start Live Capture..."));
    m_startCapture->setObjectName(QStringLiteral("mnuStartCapture"));
    m_stopCapture = menu->addAction(QStringLiteral("Stop Live Capture"));
    m_stopCapture->setObjectName(QStringLiteral("mnuStopCapture"));
    connect(m_save, &QAction::triggered, this, &SessionController::saveSession);
    connect(m_startCapture, &QAction::triggered, this, &SessionController::startCaptureFromMenu);
    connect(m_stopCapture, &QAction::triggered, this, &SessionController::stopLiveCapture);

    if (m_status) {
        m_problem = new QLabel(m_status);
        m_problem->setObjectName(QStringLiteral("sessionProblem"));
        m_problem->setStyleSheet(QStringLiteral("color: #b00000;"));
        m_problem->hide();
        m_status->addPermanentWidget(m_problem);
    }
    connect(m_record.get(), &SessionRecord::storageProblem, this, &SessionController::showProblem);
    connect(m_record.get(), &SessionRecord::eventsAppended, this, &SessionController::captureEvents);
    m_progressTimer.setInterval(100);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] {
        if (m_progress)
            m_progress->setValue(int(m_saveDone.load() * 1000 / qMax<qint64>(1, m_saveTotal)));
    });
    m_settleTimer.setInterval(100);
    connect(&m_settleTimer, &QTimer::timeout, this, &SessionController::settleCapture);

    if (m_record->isValid()) {
        if (m_control)
            m_control->setLineObserver(m_record.get());
    } else {
        showProblem(QStringLiteral("Session record off: %1").arg(m_record->errorString()));
    }
    updateActions();
}

SessionController::~SessionController()
{
    if (m_control && m_control->lineObserver() == m_record.get())
        m_control->setLineObserver(nullptr);
    if (m_saveThread) {
        m_saveCancel = true;
        m_saveThread->wait();
        delete m_saveThread;
    }
    if (m_capture)
        m_capture->finish();
}

SessionWriter::Options SessionController::writerOptions(SessionFormat format, quint8 rawKind) const
{
    SessionWriter::Options o;
    o.format = format;
    o.rawKind = rawKind;
    o.characterNs = characterTimeNs(m_record->mode());
    o.gapNs = m_gapNs > 0 ? m_gapNs : o.characterNs > 0 ? idleGapNs(m_record->mode()) : DefaultGapNs;
    return o;
}

void SessionController::updateActions()
{
    const bool valid = m_record->isValid();
    m_save->setEnabled(valid && !m_saveThread);
    m_startCapture->setEnabled(valid && !m_capture);
    m_stopCapture->setEnabled(m_capture != nullptr);
}

void SessionController::message(const QString &text)
{
    if (m_status)
        m_status->showMessage(text, 10000);
}

void SessionController::warn(const QString &title, const QString &text)
{
    // Not modal to the program: data keeps being recorded behind it.
    auto *box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, m_window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

void SessionController::showProblem(const QString &text)
{
    if (!m_problem)
        return;
    m_problem->setText(text);
    m_problem->setVisible(!text.isEmpty());
}

bool SessionController::askFile(const QString &title, QString *path, SessionFormat *format, quint8 *rawKind)
{
    QFileDialog dialog(m_window, title);
    dialog.setObjectName(QStringLiteral("sessionFileDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters({PcapngFilter, TextFilter, RawFilter});
    dialog.selectFile(
        QStringLiteral("session-%1").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    dialog.setDefaultSuffix(QStringLiteral("pcapng"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString &filter) {
        dialog.setDefaultSuffix(filter == PcapngFilter ? QStringLiteral("pcapng")
                                : filter == TextFilter ? QStringLiteral("log")
                                                       : QStringLiteral("bin"));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    *path = dialog.selectedFiles().constFirst();
    const QString filter = dialog.selectedNameFilter();
    *format = filter == TextFilter  ? SessionFormat::TextLog
              : filter == RawFilter ? SessionFormat::Raw
                                    : SessionFormat::Pcapng;
    *rawKind = RecordEvent::Received;
    if (*format == SessionFormat::Raw) {
        QMessageBox ask(QMessageBox::Question, title,
                        QStringLiteral("A raw file holds the bytes of one direction only. Which bytes?"),
                        QMessageBox::Cancel, m_window);
        ask.setObjectName(QStringLiteral("rawDirectionBox"));
        QPushButton *rx = ask.addButton(QStringLiteral("&Received"), QMessageBox::AcceptRole);
        QPushButton *tx = ask.addButton(QStringLiteral("&Sent"), QMessageBox::AcceptRole);
        ask.setDefaultButton(rx);
        ask.exec();
        if (ask.clickedButton() == tx)
            *rawKind = RecordEvent::Sent;
        else if (ask.clickedButton() != rx)
            return false;
    }
    return true;
}

void SessionController::saveSession()
{
    QString path;
    SessionFormat format;
    quint8 rawKind;
    if (askFile(QStringLiteral("Save Session"), &path, &format, &rawKind))
        startSave(path, format, rawKind);
}

bool SessionController::startSave(const QString &path, SessionFormat format, quint8 rawKind)
{
    if (m_saveThread || !m_record->isValid())
        return false;
    m_record->flush();
    m_saveTotal = m_record->committedCount();
    m_saveDone = 0;
    m_saveCancel = false;
    m_savePath = path;
    m_saveError.clear();
    const SessionWriter::Options options = writerOptions(format, rawKind);
    const SessionRecord *record = m_record.get();
    const qint64 total = m_saveTotal;

    // Reads only committed events, which the record never changes again.
    m_saveThread = QThread::create([this, record, options, total, path] {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            m_saveError = file.errorString();
            return;
        }
        SessionWriter writer(*record, &file, options);
        bool ok = writer.begin();
        for (qint64 done = 0; ok && done < total && !m_saveCancel; done = qMin(total, done + SaveStep)) {
            ok = writer.write(qMin(total, done + SaveStep));
            m_saveDone = writer.eventsDone();
        }
        if (m_saveCancel) {
            file.cancelWriting();
            m_saveError = QStringLiteral("cancelled");
            return;
        }
        if (!ok || !writer.finish() || !file.commit())
            m_saveError = writer.errorString().isEmpty() ? file.errorString() : writer.errorString();
    });
    connect(m_saveThread, &QThread::finished, this, &SessionController::saveDone);

    m_progress = new QProgressDialog(QStringLiteral("Saving the session to %1...").arg(QFileInfo(path).fileName()),
                                     QStringLiteral("Cancel"), 0, 1000, m_window);
    m_progress->setObjectName(QStringLiteral("sessionSaveProgress"));
    m_progress->setWindowModality(Qt::NonModal);
    m_progress->setMinimumDuration(500);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    connect(m_progress, &QProgressDialog::canceled, this, [this] { m_saveCancel = true; });
    m_progressTimer.start();
    message(QStringLiteral("Saving the session (%1) to %2...").arg(formatName(format, rawKind), path));
    m_saveThread->start(QThread::LowPriority);
    updateActions();
    return true;
}

void SessionController::saveDone()
{
    m_saveThread->wait();
    delete m_saveThread;
    m_saveThread = nullptr;
    m_progressTimer.stop();
    delete m_progress;
    m_progress = nullptr;
    updateActions();
    const bool ok = m_saveError.isEmpty();
    const QString text
        = ok ? QStringLiteral("Session saved to %1 (%2 events)").arg(m_savePath, QLocale().toString(m_saveTotal))
             : QStringLiteral("Session not saved to %1: %2").arg(m_savePath, m_saveError);
    message(text);
    if (!ok && m_saveError != QLatin1String("cancelled"))
        warn(QStringLiteral("Save Session"), text);
    emit saveFinished(ok, text);
}

void SessionController::startCaptureFromMenu()
{
    QString path;
    SessionFormat format;
    quint8 rawKind;
    if (askFile(QStringLiteral("Start Live Capture"), &path, &format, &rawKind))
        startLiveCapture(path, format, rawKind);
}

bool SessionController::startLiveCapture(const QString &path, SessionFormat format, quint8 rawKind)
{
    if (m_capture || !m_record->isValid())
        return false;
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        const QString text = QStringLiteral("Live capture not started: %1: %2").arg(path, file->errorString());
        message(text);
        warn(QStringLiteral("Start Live Capture"), text);
        return false;
    }
    m_record->flush();
    auto writer = std::make_unique<SessionWriter>(*m_record, file.get(), writerOptions(format, rawKind));
    if (!writer->begin(m_record->committedCount()) || !file->flush()) {
        warn(QStringLiteral("Start Live Capture"),
             QStringLiteral("Live capture not started: %1: %2").arg(path, file->errorString()));
        return false;
    }
    m_captureFile = std::move(file);
    m_capture = std::move(writer);
    m_settleTimer.start();
    message(QStringLiteral("Live capture (%1) to %2").arg(formatName(format, rawKind), path));
    updateActions();
    return true;
}

void SessionController::captureEvents(qint64 first, qint64 count)
{
    if (m_capture && (!m_capture->write(first + count) || !m_captureFile->flush()))
        failCapture(captureError());
}

void SessionController::settleCapture()
{
    if (m_capture && (!m_capture->settle(LineObserver::now()) || !m_captureFile->flush()))
        failCapture(captureError());
}

QString SessionController::captureError() const
{
    return m_capture->errorString().isEmpty() ? m_captureFile->errorString() : m_capture->errorString();
}

QString SessionController::endCapture()
{
    const QString path = m_captureFile->fileName();
    m_settleTimer.stop();
    m_capture.reset();
    m_captureFile.reset();
    updateActions();
    return path;
}

void SessionController::failCapture(const QString &why)
{
    const QString text = QStringLiteral("Live capture to %1 stopped: %2").arg(endCapture(), why);
    message(text);
    warn(QStringLiteral("Live Capture"), text);
    emit captureStopped(text);
}

void SessionController::stopLiveCapture()
{
    if (!m_capture)
        return;
    m_record->flush(); // takes in what is still buffered
    if (!m_capture)
        return; // writing that in failed, and the capture has ended
    const bool ok = m_capture->finish() && m_captureFile->flush();
    if (!ok) {
        failCapture(captureError());
        return;
    }
    const QString text = QStringLiteral("Live capture to %1 stopped").arg(endCapture());
    message(text);
    emit captureStopped(text);
}

void SessionController::offerOrphanedSpools()
{
    const QString dir = QFileInfo(m_record->spoolPath()).absolutePath();
    for (const QString &spool : SessionRecord::orphanedSpools(dir)) {
        if (m_offered.contains(spool))
            continue;
        m_offered << spool;
        const QFileInfo info(spool);
        // Not modal: the window is usable while the question waits.
        auto *ask = new QMessageBox(QMessageBox::Question, QStringLiteral("Session Record"),
                                    QStringLiteral("A run of Portlark that did not end properly left its session "
                                                   "record behind:\n\n%1\n%2, last written %3\n\nIt opens in "
                                                   "Wireshark as it is. Save it, or discard it?")
                                        .arg(spool, QLocale().formattedDataSize(info.size()),
                                             QLocale().toString(info.lastModified(), QLocale::ShortFormat)),
                                    QMessageBox::NoButton, m_window);
        ask->setObjectName(QStringLiteral("orphanedSpoolBox"));
        ask->setAttribute(Qt::WA_DeleteOnClose);
        ask->setWindowModality(Qt::NonModal);
        QPushButton *save = ask->addButton(QStringLiteral("&Save..."), QMessageBox::AcceptRole);
        QPushButton *discard = ask->addButton(QStringLiteral("&Discard"), QMessageBox::DestructiveRole);
        QPushButton *later = ask->addButton(QStringLiteral("Ask &Later"), QMessageBox::RejectRole);
        ask->setDefaultButton(save);
        ask->setEscapeButton(later);
        connect(ask, &QMessageBox::buttonClicked, this, [this, spool, save, discard](QAbstractButton *clicked) {
            m_offered.removeAll(spool);
            if (clicked == discard)
                QFile::remove(spool);
            else if (clicked == save)
                saveOrphan(spool);
        });
        ask->show();
    }
}

void SessionController::saveOrphan(const QString &spool)
{
    QFileDialog dialog(m_window, QStringLiteral("Save Session Record"));
    dialog.setObjectName(QStringLiteral("orphanedSpoolDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters({PcapngFilter});
    dialog.setDefaultSuffix(QStringLiteral("pcapng"));
    dialog.selectFile(QFileInfo(spool).fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString to = dialog.selectedFiles().constFirst();
    QFile::remove(to); // the dialog has asked about replacing it
    // A rename within one file system, else a copy.
    if (QFile::rename(spool, to) || (QFile::copy(spool, to) && QFile::remove(spool)))
        message(QStringLiteral("Session record saved to %1").arg(to));
    else
        warn(QStringLiteral("Session Record"), QStringLiteral("Could not save %1 to %2").arg(spool, to));
}
