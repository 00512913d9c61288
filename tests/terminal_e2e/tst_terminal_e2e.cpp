// The terminal window with the real serial port control, over a socat
// pseudo-terminal pair: the window holds one end, the test is the program on
// the other. Checks that bytes cross in both directions exactly, that the
// loopback plug drives the lights, and that a far end that vanishes in the
// middle of a stream is reported without losing what was received, and that
// a device that comes back is reopened by itself.

#include "binarytextbox.h"
#include "bytelineedit.h"
#include "bytetext.h"
#include "comportmap.h"
#include "lightwidget.h"
#include "mainform.h"
#include "modestring.h"
#include "portcombobox.h"
#include "portstatelabel.h"
#include "realserialportcontrol.h"
#include "replugwiring.h"
#include "portreplug.h"
#include "sessioncontroller.h"
#include "settingsstore.h"
#include "socatpair.h"
#include "terminalfixture.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kWait = 30000; // generous: shared, loaded machines

// Every byte value in turn, starting at `offset`, for `size` bytes.
QByteArray pattern(qsizetype size, qsizetype offset = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((offset + i) & 0xff);
    return bytes;
}

// The real window on COM1, with COM1 mapped to `device` in the settings file
// that start-up reads.
struct Terminal : RealPortTerminal
{
    explicit Terminal(const QString &device)
        : RealPortTerminal(MappedPortIni(1, device))
    {
        form->Form_Load();
    }
    qsizetype inputSize() const { return input().size(); }
    QString count() const { return form->Text3->text(); }
};

} // namespace

class TestTerminalE2E : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void receiveExactBytes_data();
    void receiveExactBytes();
    void sendExactBytes_data();
    void sendExactBytes();
    void loopbackLights();
    void farEndVanishesMidStream();
    void portStateLineFollowsThePort();
    void notSerialDevicesAreNamed_data();
    void notSerialDevicesAreNamed();
    void replugReopensByItself();
};

void TestTerminalE2E::init()
{
    ModeString = QStringLiteral("9600,N,8,1");
    HandshakeMode = 0;
    if (!SocatPair::available())
        QSKIP("socat is not installed");
}

void TestTerminalE2E::receiveExactBytes_data()
{
    QTest::addColumn<QList<QByteArray>>("writes");
    QTest::newRow("NUL, A, CR, LF then every value")
        << QList<QByteArray>{QByteArray("\x00\x41\x0d\x0a", 4), pattern(256)};
    QTest::newRow("one MiB in uneven writes")
        << QList<QByteArray>{pattern(1), pattern(4095, 1), pattern(65537, 4096), pattern(1048576 - 69633, 69633)};
}

void TestTerminalE2E::receiveExactBytes()
{
    QFETCH(QList<QByteArray>, writes);
    SocatPair pair;
    QVERIFY2(pair.start(), qPrintable(pair.errorString()));
    Terminal t(pair.pathA());
    QVERIFY2(t.comm->IsOpen(), qPrintable(t.comm->LastError()));
    RawTty far(pair.pathB());
    QVERIFY2(far.isOpen(), qPrintable(far.errorString()));

    QByteArray expected;
    for (const QByteArray &bytes : writes) {
        QVERIFY2(far.writeAll(bytes), qPrintable(far.errorString()));
        expected += bytes;
        // Each write is seen whole before the next, so a wrong count cannot
        // be made right by later data.
        QTRY_COMPARE_WITH_TIMEOUT(t.inputSize(), expected.size(), kWait);
        QCOMPARE(t.input(), expected);
        QTRY_COMPARE(t.count(), QString::number(expected.size()));
    }
    QCOMPARE(t.form->Text1->Text(), DisplayText(expected));
    QCOMPARE(t.form->Text1->SelStart(), expected.size());
}

void TestTerminalE2E::sendExactBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("41 00 42") << QByteArray("\x41\x00\x42", 3);
    QTest::newRow("256 KiB of every value") << pattern(256 * 1024);
}

void TestTerminalE2E::sendExactBytes()
{
    QFETCH(QByteArray, bytes);
    SocatPair pair;
    QVERIFY2(pair.start(), qPrintable(pair.errorString()));
    Terminal t(pair.pathA());
    QVERIFY2(t.comm->IsOpen(), qPrintable(t.comm->LastError()));
    RawTty far(pair.pathB());
    QVERIFY2(far.isOpen(), qPrintable(far.errorString()));

    t.setOutput(bytes);
    t.form->Command2->click();
    QCOMPARE(far.readExactly(bytes.size(), kWait), bytes);
    // Nothing more follows: no line ending is added.
    QVERIFY(far.readExactly(1, 300).isEmpty());
    // The pane is not cleared, so a second Send sends the same bytes again.
    QCOMPARE(t.output(), bytes);
    t.form->Command2->click();
    QCOMPARE(far.readExactly(bytes.size(), kWait), bytes);
    QTRY_COMPARE(t.count(), QStringLiteral("0"));
}

void TestTerminalE2E::loopbackLights()
{
    Terminal t(ComPortMap::Loopback);
    QVERIFY2(t.comm->IsOpen(), qPrintable(t.comm->LastError()));
    auto lights = [&] {
        return QList<int>{t.form->Shape1[0]->FillColor(), t.form->Shape1[1]->FillColor(),
                          t.form->Shape1[2]->FillColor()};
    };
    const int R = LightWidget::Red, G = LightWidget::Green;

    // Both boxes start checked: DTR drives CD and DSR, RTS drives CTS.
    QTRY_COMPARE_WITH_TIMEOUT(lights(), (QList<int>{R, R, R}), kWait);
    t.form->chkDTR->setCheckState(Qt::Unchecked);
    QTRY_COMPARE_WITH_TIMEOUT(lights(), (QList<int>{G, R, G}), kWait);
    t.form->chkRTS->setCheckState(Qt::Unchecked);
    QTRY_COMPARE_WITH_TIMEOUT(lights(), (QList<int>{G, G, G}), kWait);
    t.form->chkRTS->setCheckState(Qt::Checked);
    QTRY_COMPARE_WITH_TIMEOUT(lights(), (QList<int>{G, R, G}), kWait);
    t.form->chkDTR->setCheckState(Qt::Checked);
    QTRY_COMPARE_WITH_TIMEOUT(lights(), (QList<int>{R, R, R}), kWait);

    // What is sent comes back as received data.
    const QByteArray bytes("\x41\x00\x42", 3);
    t.setOutput(bytes);
    t.form->Command2->click();
    QTRY_COMPARE_WITH_TIMEOUT(t.input(), bytes, kWait);
    QTRY_COMPARE(t.count(), QStringLiteral("3"));
}

void TestTerminalE2E::farEndVanishesMidStream()
{
    auto pair = std::make_unique<SocatPair>();
    QVERIFY2(pair->start(), qPrintable(pair->errorString()));
    Terminal t(pair->pathA());
    QVERIFY2(t.comm->IsOpen(), qPrintable(t.comm->LastError()));

    // The far end streams from a thread of its own with blocking writes until
    // its end of the cable is gone.
    const int fd = ::open(QFile::encodeName(pair->pathB()).constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    const qsizetype total = 64 * 1024 * 1024;
    const QByteArray stream = pattern(total);
    std::atomic<qsizetype> written{0};
    std::thread feeder([&] {
        qsizetype done = 0;
        while (done < total) {
            const ssize_t n = ::write(fd, stream.constData() + done, size_t(qMin<qsizetype>(4096, total - done)));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += n;
            written = done;
        }
        ::close(fd);
    });
    // A failed check returns early: the cable is pulled so the feeder ends.
    const auto joinFeeder = qScopeGuard([&] {
        if (feeder.joinable()) {
            pair->kill();
            feeder.join();
        }
    });

    // Some data has come through; lights set by hand must be refreshed by
    // the loss.
    QTRY_VERIFY_WITH_TIMEOUT(t.inputSize() >= 256 * 1024, kWait);
    for (LightWidget *light : t.form->Shape1)
        light->setFillColor(LightWidget::Red);
    const qsizetype before = t.inputSize();
    pair->kill();
    feeder.join();

    // Reopening when plugged back is on by default: the window waits for it.
    QTRY_COMPARE_WITH_TIMEOUT(t.form->portState->text(),
                              QStringLiteral("COM1 waiting for %1 to come back").arg(pair->pathA()), kWait);
    QVERIFY(!t.comm->IsOpen());
    for (LightWidget *light : t.form->Shape1)
        QCOMPARE(light->FillColor(), LightWidget::Green);

    // Whatever reached the window is kept, in order, with its count; the
    // stream can only have been cut, never corrupted.
    const QByteArray received = t.input();
    QVERIFY(received.size() >= before);
    QVERIFY(received.size() <= written);
    QVERIFY(received == stream.left(received.size()));
    QTRY_COMPARE(t.count(), QString::number(received.size()));
    QCOMPARE(t.form->Text1->Text().size(), received.size());

    // The window still works: choosing the port again reports it missing,
    // once, and leaves it selected.
    {
        MessageBoxLog closer;
        emit t.form->Combo2->activated(1);
        QCOMPARE(closer.texts(), QStringList{QStringLiteral("The selected serial port is not available.")});
        QCOMPARE(closer.titles(), QStringList{QStringLiteral("Portlark Error")});
    }
    QCOMPARE(t.form->Combo2->currentIndex(), 1);
    QVERIFY(!t.comm->IsOpen());
    QCOMPARE(t.input(), received);

    // A new cable on the same COM number is taken at the next choice.
    pair = std::make_unique<SocatPair>();
    QVERIFY2(pair->start(), qPrintable(pair->errorString()));
    t.ports.setEntries({{1, pair->pathA()}});
    emit t.form->Combo2->activated(1);
    QVERIFY2(t.comm->IsOpen(), qPrintable(t.comm->LastError()));
    t.form->Command1->click();
    QTRY_COMPARE(t.count(), QStringLiteral("0"));
    RawTty far(pair->pathB());
    QVERIFY(far.writeAll(QByteArray("\x00ok", 3)));
    QTRY_COMPARE_WITH_TIMEOUT(t.input(), QByteArray("\x00ok", 3), kWait);
    QTRY_COMPARE(t.count(), QStringLiteral("3"));
}

void TestTerminalE2E::portStateLineFollowsThePort()
{
    SocatPair pair;
    QVERIFY2(pair.start(), qPrintable(pair.errorString()));
    // Another program holds the port when the window starts.
    ComPortMap otherMap;
    otherMap.setEntries({{1, pair.pathA()}});
    auto other = std::make_unique<RealSerialPortControl>(&otherMap);
    other->PortNumber(1);
    other->IsOpen(true);
    QVERIFY2(other->IsOpen(), qPrintable(other->LastError()));
    std::unique_ptr<Terminal> t;
    {
        MessageBoxLog boxes;
        t = std::make_unique<Terminal>(pair.pathA());
        QCOMPARE(boxes.boxes.size(), 1);
    }
    QCOMPARE(t->form->portState->text(), QStringLiteral("COM1 closed: in use by another program"));

    other.reset();                     // the other program ends
    QCoreApplication::processEvents(); // start-up's selection is over; the next choice is the user's
    emit t->form->Combo2->activated(1);
    QVERIFY2(t->comm->IsOpen(), qPrintable(t->comm->LastError()));
    QCOMPARE(t->form->portState->text(), QStringLiteral("COM1 open: %1 at 9600,N,8,1").arg(pair.pathA()));

    const QString waiting = QStringLiteral("COM1 waiting for %1 to come back").arg(pair.pathA());
    pair.kill();
    QTRY_COMPARE_WITH_TIMEOUT(t->form->portState->text(), waiting, kWait);
    t->form->Command2->click();
    QCOMPARE(t->form->portState->text(), waiting + QStringLiteral("; nothing was sent"));
}

void TestTerminalE2E::notSerialDevicesAreNamed_data()
{
    QTest::addColumn<QString>("device"); // "fifo" and "file" are made in a temporary directory
    QTest::newRow("/dev/null") << QStringLiteral("/dev/null");
    QTest::newRow("/dev/ptmx") << QStringLiteral("/dev/ptmx");
    QTest::newRow("named pipe") << QStringLiteral("fifo");
    QTest::newRow("regular file") << QStringLiteral("file");
}

void TestTerminalE2E::notSerialDevicesAreNamed()
{
    QFETCH(QString, device);
    QTemporaryDir dir;
    if (device == QLatin1String("fifo")) {
        device = dir.filePath(device);
        QVERIFY(::mkfifo(QFile::encodeName(device).constData(), 0600) == 0);
    } else if (device == QLatin1String("file")) {
        device = dir.filePath(device);
        QVERIFY(writeFile(device, "not a port\n"));
    }

    MessageBoxLog boxes;
    Terminal t(device);
    QVERIFY(!t.comm->IsOpen());
    QCOMPARE(boxes.texts(), QStringList{QStringLiteral("The selected serial port is not available.")});
    const QString detail = boxes.boxes.value(0).detail;
    QVERIFY2(detail.startsWith(device + QStringLiteral(": not a serial device")), qPrintable(detail));
}

// The cable is pulled and put back at the same place while the window holds
// the port: the window waits, reopens by itself as the port was, and keeps
// what came before; with reopening switched off in the session menu the port
// stays closed, and the choice outlives a restart.
void TestTerminalE2E::replugReopensByItself()
{
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a")), b = dir.filePath(QStringLiteral("b"));
    auto pair = std::make_unique<SocatPair>();
    QVERIFY2(pair->start(a, b), qPrintable(pair->errorString()));
    Terminal t(a);
    QVERIFY2(t.comm->IsOpen(), qPrintable(t.comm->LastError()));
    QAction *item = nullptr;
    for (QAction *action : t.form->mnuSession->actions()) {
        if (action->text() == QLatin1String("Reopen &When Plugged Back"))
            item = action;
    }
    QVERIFY(item);
    QVERIFY(item->isCheckable() && item->isChecked());
    t.form->chkDTR->setCheckState(Qt::Unchecked);
    QVERIFY(!t.comm->DtrEnabled() && t.comm->RtsEnabled());
    const QString open = QStringLiteral("COM1 open: %1 at 9600,N,8,1").arg(a);
    const QString waiting = QStringLiteral("COM1 waiting for %1 to come back").arg(a);
    const QString lost = QStringLiteral("COM1 closed: the device was disconnected");
    SessionRecord *record = t.form->findChild<SessionController *>()->record();
    auto kinds = [record](qint64 from) {
        QList<int> k;
        for (qint64 i = from; i < record->eventCount(); ++i)
            k.append(record->event(i).kind);
        return k;
    };

    auto far = std::make_unique<RawTty>(b);
    const QByteArray before = pattern(3000);
    QVERIFY(far->writeAll(before));
    QTRY_COMPARE_WITH_TIMEOUT(t.input(), before, kWait);
    far.reset();
    const qint64 eventsBefore = record->eventCount();
    pair->kill();
    QTRY_COMPARE_WITH_TIMEOUT(t.form->portState->text(), waiting, kWait);
    QVERIFY(!t.comm->IsOpen());
    QCOMPARE(t.form->Combo2->currentIndex(), 1);
    // Lines and settings changed while waiting are what the port comes back with.
    t.form->chkRTS->setCheckState(Qt::Unchecked);
    ModeString = QStringLiteral("57600,E,7,1");

    QSignalSpy back(t.form->findChild<PortReplug *>(), &PortReplug::reopened);
    QElapsedTimer sinceReturn;
    sinceReturn.start();
    pair = std::make_unique<SocatPair>();
    QVERIFY2(pair->start(a, b), qPrintable(pair->errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(t.comm->IsOpen(), kWait);
    qInfo("re-plug: port open %lld ms after the pair was started again, %lld ms after its device was seen",
          sinceReturn.elapsed(), back.value(0).value(1).toLongLong());
    QVERIFY2(t.form->portState->text().startsWith(QStringLiteral("COM1 open: %1 at 57600,E,7,1 (back after ").arg(a)),
             qPrintable(t.form->portState->text()));
    QVERIFY(!t.comm->DtrEnabled() && !t.comm->RtsEnabled());
    QCOMPARE(t.form->chkDTR->checkState(), Qt::Unchecked);
    QCOMPARE(t.form->chkRTS->checkState(), Qt::Unchecked);
    ModeString = QStringLiteral("9600,N,8,1");
    t.form->chkRTS->setCheckState(Qt::Checked);
    // The record tells the return from a fresh open.
    const QList<int> k = kinds(eventsBefore);
    QVERIFY(k.contains(RecordEvent::PortLost));
    QVERIFY(k.indexOf(RecordEvent::Reopened) > k.indexOf(RecordEvent::PortLost));
    QVERIFY(!k.contains(RecordEvent::Opened) && !k.contains(RecordEvent::Closed));

    // Nothing received before is lost; what comes after follows it.
    far = std::make_unique<RawTty>(b);
    QVERIFY(far->writeAll(pattern(256)));
    QTRY_COMPARE_WITH_TIMEOUT(t.input(), before + pattern(256), kWait);
    QTRY_COMPARE(t.count(), QString::number(before.size() + 256));

    // Choosing "None" while waiting ends the wait.
    far.reset();
    pair->kill();
    QTRY_COMPARE_WITH_TIMEOUT(t.form->portState->text(), waiting, kWait);
    t.form->Combo2->setCurrentIndex(0);
    QVERIFY(!t.form->replug()->isWaiting());
    QCOMPARE(t.form->portState->text(), QStringLiteral("No port open"));
    pair = std::make_unique<SocatPair>();
    QVERIFY2(pair->start(a, b), qPrintable(pair->errorString()));
    t.form->Combo2->setCurrentIndex(1);
    QVERIFY2(t.comm->IsOpen(), qPrintable(t.comm->LastError()));

    // Switched off, a loss leaves the port closed with the plain text...
    item->trigger();
    QVERIFY(!item->isChecked());
    pair->kill();
    QTRY_COMPARE_WITH_TIMEOUT(t.form->portState->text(), lost, kWait);
    pair = std::make_unique<SocatPair>();
    QVERIFY2(pair->start(a, b), qPrintable(pair->errorString()));
    QTest::qWait(500); // the device is back; a wait, had one run, would have ended in that time
    QVERIFY(!t.comm->IsOpen());
    QCOMPARE(t.form->portState->text(), lost);
    // ...and switched on again after the loss, it takes the device back.
    item->trigger();
    // At once when the device opens; a busy machine may need the wait's retries.
    QTRY_VERIFY_WITH_TIMEOUT(t.comm->IsOpen(), kWait);
    QVERIFY2(t.form->portState->text().startsWith(open + QStringLiteral(" (back after ")),
             qPrintable(t.form->portState->text()));

    // The choice is saved with the settings and read at the next start.
    item->trigger();
    QVERIFY(t.form->close());
    QCOMPARE(iniValue(t.path(), QStringLiteral("Session/ReopenWhenPluggedBack")), QStringLiteral("0"));
    t.restart();
    t.form->Form_Load();
    QVERIFY(!t.form->replug()->action()->isChecked());
}

QTEST_MAIN(TestTerminalE2E)
#include "tst_terminal_e2e.moc"
