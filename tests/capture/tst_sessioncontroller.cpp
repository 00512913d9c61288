#include "dialogwatch.h"
#include "sessioncontroller.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

// Answers the modal dialogs the controller opens, in order, each by one step.
class DialogAnswerer : public QObject
{
public:
    using Step = std::function<bool(QWidget *)>; // true once it has answered
    explicit DialogAnswerer(QList<Step> steps)
        : m_steps(std::move(steps))
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            QWidget *w = QApplication::activeModalWidget();
            if (!w) {
                // A question that leaves the window usable is not modal.
                for (QWidget *top : QApplication::topLevelWidgets()) {
                    if (top->isVisible() && qobject_cast<QMessageBox *>(top))
                        w = top;
                }
            }
            if (w && !m_steps.isEmpty() && m_steps.first()(w))
                m_steps.removeFirst();
        });
        m_timer.start(20);
    }
    // Every step taken and its dialog gone: a click is queued, so the box it
    // closes may still be up when the last step returns.
    bool done() const { return m_steps.isEmpty() && !QApplication::activeModalWidget() && !visibleMessageBox(); }

private:
    QList<Step> m_steps;
    QTimer m_timer;
};

DialogAnswerer::Step fileDialog(const QString &filterStart, const QString &path)
{
    return [=](QWidget *w) {
        auto *d = qobject_cast<QFileDialog *>(w);
        if (!d)
            return false;
        // The dialog fills its name box again while it loads the folder, so
        // the answer is given once it has settled, right before accepting.
        QTimer::singleShot(200, d, [d, filterStart, path] {
            for (const QString &f : d->nameFilters()) {
                if (f.startsWith(filterStart))
                    d->selectNameFilter(f);
            }
            d->selectFile(path);
            if (auto *name = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                name->setText(path);
            QMetaObject::invokeMethod(d, "accept");
        });
        return true;
    };
}

DialogAnswerer::Step button(const QString &text)
{
    return [=](QWidget *w) {
        auto *box = qobject_cast<QMessageBox *>(w);
        if (!box)
            return false;
        for (QAbstractButton *b : box->buttons()) {
            if (b->text() == text) {
                // Queued: what the click opens must not run inside this timer.
                QMetaObject::invokeMethod(b, "click", Qt::QueuedConnection);
                return true;
            }
        }
        return false;
    };
}

struct Window
{
    explicit Window(const QString &spoolDir)
        : menu(QStringLiteral("&Session"), &widget)
        , status(&widget)
        , controller(new SessionController(nullptr, &menu, &status, &widget, spoolDir))
    {}
    QWidget widget;
    QMenu menu;
    QStatusBar status;
    SessionController *controller;
};

} // namespace

class tst_SessionController : public QObject
{
    Q_OBJECT

private slots:
    void menuSavesRawSentBytesThroughTheDialogs();
    void liveCaptureWritesWhatArrivesWhileItRuns();
    void crashedSpoolIsOfferedAndCanBeDiscardedOrSaved();
};

void tst_SessionController::menuSavesRawSentBytesThroughTheDialogs()
{
    QTemporaryDir dir;
    Window w(dir.filePath(QStringLiteral("spool")));
    QStringList texts;
    for (QAction *a : w.menu.actions())
        texts << a->text();
    QCOMPARE(texts, (QStringList{"Save Session...", "Start Live Capture...", "Stop Live Capture"}));
    QVERIFY(w.controller->saveAction()->isEnabled());
    QVERIFY(!w.controller->stopCaptureAction()->isEnabled());

    SessionRecord *r = w.controller->record();
    r->bytesSent(LineObserver::now(), QByteArray("\x00\x01sent\xff", 7));
    r->bytesReceived(LineObserver::now(), "received");
    r->bytesSent(LineObserver::now(), "more");

    const QString path = dir.filePath(QStringLiteral("tx.bin"));
    QSignalSpy finished(w.controller, &SessionController::saveFinished);
    DialogAnswerer answers({fileDialog(QStringLiteral("Raw"), path), button(QStringLiteral("&Sent"))});
    w.controller->saveAction()->trigger();
    QVERIFY(finished.wait(20000));
    QVERIFY(answers.done());
    QVERIFY2(finished.at(0).at(0).toBool(), qPrintable(finished.at(0).at(1).toString()));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("\x00\x01sent\xff"
                                     "more",
                                     11));

    // Storage trouble shows in the status bar until it clears.
    auto *label = w.status.findChild<QLabel *>(QStringLiteral("sessionProblem"));
    QVERIFY(label);
    emit r->storageProblem(QStringLiteral("Session record: disk nearly full (12 MiB free in /x)"));
    QVERIFY(!label->isHidden());
    QCOMPARE(label->text(), QStringLiteral("Session record: disk nearly full (12 MiB free in /x)"));
    emit r->storageProblem(QString());
    QVERIFY(label->isHidden());
}

void tst_SessionController::liveCaptureWritesWhatArrivesWhileItRuns()
{
    QTemporaryDir dir;
    Window w(dir.filePath(QStringLiteral("spool")));
    SessionRecord *r = w.controller->record();
    r->bytesReceived(LineObserver::now(), "before");
    const QString path = dir.filePath(QStringLiteral("live.bin"));
    QVERIFY(w.controller->startLiveCapture(path, SessionFormat::Raw, RecordEvent::Received));
    QVERIFY(w.controller->isCapturing());
    QVERIFY(!w.controller->startCaptureAction()->isEnabled());
    QVERIFY(w.controller->stopCaptureAction()->isEnabled());
    r->bytesReceived(LineObserver::now(), "during 1,");
    r->bytesSent(LineObserver::now(), "not this");
    QFile f(path);
    // Written as it comes, without waiting for the stop.
    QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(path).size(), qint64(9), 10000);
    r->bytesReceived(LineObserver::now(), " during 2");
    w.controller->stopCaptureAction()->trigger();
    QVERIFY(!w.controller->isCapturing());
    r->bytesReceived(LineObserver::now(), "after");
    r->flush();
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("during 1, during 2"));
}

void tst_SessionController::crashedSpoolIsOfferedAndCanBeDiscardedOrSaved()
{
    QTemporaryDir dir;
    const QString spoolDir = dir.filePath(QStringLiteral("spool"));
    auto leaveSpool = [&] {
        SessionRecord crashed(spoolDir);
        crashed.bytesReceived(LineObserver::now(), "left behind");
        crashed.keepSpool();
        return crashed.spoolPath();
    };
    const QString first = leaveSpool();
    Window w(spoolDir);
    {
        DialogAnswerer answers({button(QStringLiteral("Ask &Later"))});
        w.controller->offerOrphanedSpools();
        QTRY_VERIFY(answers.done());
        QVERIFY(QFile::exists(first));
    }
    {
        DialogAnswerer answers({button(QStringLiteral("&Discard"))});
        w.controller->offerOrphanedSpools();
        QTRY_VERIFY(answers.done());
        QVERIFY(!QFile::exists(first));
        QVERIFY(QFile::exists(w.controller->record()->spoolPath())); // its own is not touched
    }
    const QString second = leaveSpool();
    const QString saved = dir.filePath(QStringLiteral("rescued.pcapng"));
    {
        DialogAnswerer answers({button(QStringLiteral("&Save...")), fileDialog(QStringLiteral("pcapng"), saved)});
        w.controller->offerOrphanedSpools();
        QTRY_VERIFY(answers.done());
    }
    QTRY_VERIFY(!QFile::exists(second));
    // The rescued file is put in place by the save's own thread, which may
    // finish after the crashed spool is already gone.
    QTRY_VERIFY(QFile::exists(saved));
    QFile f(saved);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll().contains("left behind"));
    QVERIFY(SessionRecord::orphanedSpools(spoolDir).isEmpty());
}

QTEST_MAIN(tst_SessionController)
#include "tst_sessioncontroller.moc"
