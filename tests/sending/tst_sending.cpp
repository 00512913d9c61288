// Sending from the terminal window over the real serial control: pacing as
// the far end of a socat pair sees it, files that arrive whole, a Cancel
// that leaves the line quiet, closing in the middle of a send, and break and
// line pulses as the loopback plug shows them.

#include "filesend.h"
#include "lineobserver.h"
#include "mainform.h"
#include "modestring.h"
#include "pacedwriter.h"
#include "pacing.h"
#include "realserialportcontrol.h"
#include "sendfileprogress.h"
#include "sendingtools.h"
#include "socatpair.h"
#include "terminalfixture.h"
#include "testbytes.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>

#include <atomic>
#include <mutex>
#include <poll.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int kWait = 60000; // generous: shared, loaded machines

qint64 monotonicNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// The far end, read on a thread of its own so that its timestamps are not
// held up by the window's event loop: every byte with the time its read
// returned.
class FarReader
{
public:
    explicit FarReader(int fd)
        : m_fd(fd)
    {
        m_thread = std::thread([this] { run(); });
    }
    ~FarReader()
    {
        m_stop = true;
        m_thread.join();
    }
    qsizetype size() const
    {
        std::lock_guard lock(m_mutex);
        return m_bytes.size();
    }
    QByteArray bytes() const
    {
        std::lock_guard lock(m_mutex);
        return m_bytes;
    }
    QList<qint64> times() const
    {
        std::lock_guard lock(m_mutex);
        return m_times;
    }

private:
    void run()
    {
        char buffer[65536];
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 20) != 1)
                continue;
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            const qint64 now = monotonicNs();
            if (n <= 0)
                continue;
            std::lock_guard lock(m_mutex);
            m_bytes.append(buffer, n);
            for (ssize_t i = 0; i < n; ++i)
                m_times.append(now);
        }
    }

    int m_fd;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    QByteArray m_bytes;
    QList<qint64> m_times;
    std::thread m_thread;
};

// Records the times the control handed each byte to the device.
class SentTimes : public LineObserver
{
public:
    QList<qint64> times;
    QByteArray bytes;
    QList<std::pair<bool, bool>> lines; // DTR, RTS as set
    QList<int> breaks;
    quint32 breakCount = 0;

    void portOpened(qint64, const QString &, const QString &, int, bool) override {}
    void portClosed(qint64) override {}
    void portLost(qint64, const QString &) override {}
    void bytesReceived(qint64, const QByteArray &) override {}
    void bytesSent(qint64 time, const QByteArray &sent) override
    {
        bytes += sent;
        for (qsizetype i = 0; i < sent.size(); ++i)
            times.append(time);
    }
    void outputLines(qint64, bool dtr, bool rts) override { lines.append({dtr, rts}); }
    void inputLines(qint64, bool, bool, bool, bool) override {}
    void errorCounters(qint64, const ErrorCounters &counters) override { breakCount = counters.breaks; }
    void noErrorCounters(qint64) override {}
    void breakSent(qint64, int milliseconds) override { breaks.append(milliseconds); }
};

// The window on COM1 mapped to `device`, started up.
struct Terminal : RealPortTerminal
{
    explicit Terminal(const QString &device)
        : RealPortTerminal(MappedPortIni(1, device))
    {
        form->Form_Load();
    }
    SendingTools *tools() const { return form->sending(); }
};

} // namespace

class TestSending : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void lineEnds_data();
    void lineEnds();
    void pacedSendOnTheWire_data();
    void pacedSendOnTheWire();
    void sendFileArrivesWhole();
    void cancelLeavesLineQuiet();
    void closingMidSendStopsAndSaves();
    void breakAndPulsesOnLoopback();
};

void TestSending::init()
{
    ModeString = QStringLiteral("9600,N,8,1");
    HandshakeMode = 0;
}

void TestSending::lineEnds_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<int>>("delays");
    // byte delay 1, line delay 10
    QTest::newRow("CR LF is one line end, at its LF") << QByteArray("a\r\nb") << QList<int>{1, 1, 11, 1};
    QTest::newRow("lone CR and LF each end a line") << QByteArray("\ra\nb\r") << QList<int>{11, 1, 11, 1, 11};
    QTest::newRow("LF CR: two line ends") << QByteArray("\n\rx") << QList<int>{11, 11, 1};
}

void TestSending::lineEnds()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<int>, delays);
    const Pacing pacing{1, 10};
    QList<int> got;
    qint64 total = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        got.append(pacing.delayAfter(bytes, i));
        total += got.last();
    }
    QCOMPARE(got, delays);
    QCOMPARE(pacing.totalDelay(bytes), total);
}

void TestSending::pacedSendOnTheWire_data()
{
    QTest::addColumn<int>("byteDelay");
    QTest::addColumn<int>("lineDelay");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("50 ms after each byte") << 50 << 0 << QByteArray("0123\x00\xff", 6);
    QTest::newRow("20 ms per byte, 40 more per line end") << 20 << 40 << QByteArray("ab\r\ncd\nef\rgh");
    QTest::newRow("only 60 ms per line end") << 0 << 60 << QByteArray("line one\nline two\nline three\n");
}

void TestSending::pacedSendOnTheWire()
{
    QFETCH(int, byteDelay);
    QFETCH(int, lineDelay);
    QFETCH(QByteArray, bytes);
    if (!SocatPair::available())
        QSKIP("socat is not installed");
    const Pacing pacing{byteDelay, lineDelay};
    // The shortest time from the first byte to the last: every delay but the
    // one after the last byte.
    const qint64 expectedMs = pacing.totalDelay(bytes) - pacing.delayAfter(bytes, bytes.size() - 1);

    // The gaps may never be short; the whole may be long only by the
    // machine's noise, so a run spoiled by a busy moment is tried again.
    QString figures;
    bool inTime = false;
    for (int attempt = 1; attempt <= 5 && !inTime; ++attempt) {
        SocatPair pair;
        QVERIFY2(pair.start(), qPrintable(pair.errorString()));
        Terminal t(pair.pathA());
        QVERIFY2(t.comm->IsOpen(), qPrintable(t.comm->LastError()));
        SentTimes sent;
        t.comm->setLineObserver(&sent);
        RawTty far(pair.pathB());
        QVERIFY2(far.isOpen(), qPrintable(far.errorString()));
        FarReader reader(far.handle());

        t.tools()->setPacing(pacing);
        t.setOutput(bytes);
        t.form->Command2->click();
        // Send returns at once; the bytes go out while the window runs.
        QVERIFY(t.tools()->writer()->pending() > 0);
        QTRY_COMPARE_WITH_TIMEOUT(reader.size(), bytes.size(), kWait);
        QCOMPARE(reader.bytes(), bytes);
        t.comm->setLineObserver(nullptr);

        // As handed to the device: never sooner than the pace allows.
        QCOMPARE(sent.bytes, bytes);
        const QList<qint64> far_ = reader.times();
        qint64 shortestFar = std::numeric_limits<qint64>::max();
        bool farGapsOk = true;
        for (qsizetype k = 0; k + 1 < bytes.size(); ++k) {
            const qint64 wanted = qint64(pacing.delayAfter(bytes, k)) * 1000000;
            const qint64 sentGap = sent.times[k + 1] - sent.times[k];
            QVERIFY2(sentGap >= wanted, qPrintable(QStringLiteral("byte %1 went out %2 us after the one "
                                                                  "before, the pace wants %3 us")
                                                       .arg(k + 1)
                                                       .arg(sentGap / 1000)
                                                       .arg(wanted / 1000)));
            if (wanted > 0) {
                const qint64 farGap = far_[k + 1] - far_[k];
                shortestFar = std::min(shortestFar, farGap - wanted);
                // The far end's clock reads each byte a little after it
                // arrives, by a varying amount: allow that much.
                if (farGap < wanted - 2000000)
                    farGapsOk = false;
            }
        }
        const double totalMs = double(far_.last() - far_.first()) / 1e6;
        figures = QStringLiteral("attempt %1: first to last byte %2 ms at the far end, %3 ms expected; "
                                 "shortest gap %4 ms beyond its delay")
                      .arg(attempt)
                      .arg(totalMs, 0, 'f', 1)
                      .arg(expectedMs)
                      .arg(double(shortestFar) / 1e6, 0, 'f', 2);
        qInfo("%s", qPrintable(figures));
        inTime = farGapsOk && totalMs >= 0.98 * double(expectedMs) && totalMs <= 1.2 * double(expectedMs);
    }
    QVERIFY2(inTime, qPrintable(figures));
}

void TestSending::sendFileArrivesWhole()
{
    if (!SocatPair::available())
        QSKIP("socat is not installed");
    SocatPair pair;
    QVERIFY2(pair.start(), qPrintable(pair.errorString()));
    Terminal t(pair.pathA());
    QVERIFY2(t.comm->IsOpen(), qPrintable(t.comm->LastError()));
    RawTty far(pair.pathB());
    QVERIFY2(far.isOpen(), qPrintable(far.errorString()));

    const QByteArray file = randomBytes(1 << 20, 14);
    const QString path = t.dir.filePath(QStringLiteral("image.bin"));
    QVERIFY(writeFile(path, file));

    QSignalSpy finished(t.tools()->fileSend(), &FileSend::finished);
    QVERIFY(t.tools()->startFileSend(path));
    SendFileProgress *progress = t.tools()->progress();
    QVERIFY(progress && progress->isVisible());
    QVERIFY(!t.tools()->mnuSendFile->isEnabled());
    // The window answers while the file goes out: what the far end sends
    // back shows in the input pane meanwhile. (The far end keeps reading, or
    // socat, stuck writing to it, would carry nothing back.)
    {
        FarReader reader(far.handle());
        QTRY_VERIFY_WITH_TIMEOUT(reader.size() >= 1000, kWait);
        QVERIFY(far.writeAll("meanwhile"));
        QTRY_COMPARE_WITH_TIMEOUT(t.input(), QByteArray("meanwhile"), kWait);
        QVERIFY(progress->lblBytes->text().endsWith(QStringLiteral(" of 1,048,576 bytes")));
        QTRY_COMPARE_WITH_TIMEOUT(reader.size(), file.size(), 120000);
        QVERIFY2(reader.bytes() == file, "the file arrived changed");
    }
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, kWait);
    QCOMPARE(finished[0][0].toBool(), true);
    QCOMPARE(t.tools()->fileSend()->sent(), file.size());
    QVERIFY(!progress->isVisible());
    QVERIFY(t.tools()->mnuSendFile->isEnabled());
    QVERIFY2(t.form->statusBar()->currentMessage().startsWith(QStringLiteral("Sent image.bin: 1,048,576 bytes")),
             qPrintable(t.form->statusBar()->currentMessage()));
    QTest::qWait(200);
    QCOMPARE(far.readAvailable(), QByteArray());
}

void TestSending::cancelLeavesLineQuiet()
{
    if (!SocatPair::available())
        QSKIP("socat is not installed");
    SocatPair pair;
    QVERIFY2(pair.start(), qPrintable(pair.errorString()));
    Terminal t(pair.pathA());
    QVERIFY2(t.comm->IsOpen(), qPrintable(t.comm->LastError()));
    RawTty far(pair.pathB());
    QVERIFY2(far.isOpen(), qPrintable(far.errorString()));

    const QByteArray file = randomBytes(8 << 20, 7);
    const QString path = t.dir.filePath(QStringLiteral("big.bin"));
    QVERIFY(writeFile(path, file));
    QSignalSpy finished(t.tools()->fileSend(), &FileSend::finished);
    QVERIFY(t.tools()->startFileSend(path));

    // The far end reads nothing for now, so the line backs up and bytes
    // wait in the program; the status bar says how many.
    QTRY_VERIFY_WITH_TIMEOUT(!t.tools()->lblQueued->isHidden(), kWait);
    QVERIFY(t.tools()->lblQueued->text().startsWith(QStringLiteral("Queued: ")));
    QVERIFY(!t.tools()->cmdDropQueued->isHidden());

    t.tools()->progress()->cmdCancel->click();
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished[0][0].toBool(), false);
    QVERIFY2(finished[0][1].toString().startsWith(QStringLiteral("Cancelled after ")),
             qPrintable(finished[0][1].toString()));
    QCOMPARE(t.tools()->writer()->pending(), 0);
    QCOMPARE(t.comm->OutputPending(), 0);
    QVERIFY(t.tools()->lblQueued->isHidden());
    QVERIFY(!t.tools()->progress()->isVisible());

    // What was already past the port (in the cable) still comes; then
    // nothing more, and all of it is the file's start.
    QByteArray got;
    for (;;) {
        const QByteArray more = far.readExactly(1 << 30, 1000);
        if (more.isEmpty())
            break;
        got += more;
    }
    QVERIFY2(got.size() < file.size() / 2, qPrintable(QString::number(got.size())));
    QVERIFY(got == file.left(got.size()));
    QCOMPARE(far.readExactly(1, 500), QByteArray());
    QVERIFY(t.comm->IsOpen());
}

void TestSending::closingMidSendStopsAndSaves()
{
    if (!SocatPair::available())
        QSKIP("socat is not installed");
    SocatPair pair;
    QVERIFY2(pair.start(), qPrintable(pair.errorString()));
    Terminal t(pair.pathA());
    QVERIFY2(t.comm->IsOpen(), qPrintable(t.comm->LastError()));
    RawTty far(pair.pathB());
    QVERIFY2(far.isOpen(), qPrintable(far.errorString()));

    const QString path = t.dir.filePath(QStringLiteral("slow.txt"));
    QVERIFY(writeFile(path, QByteArray(500, 'x')));
    t.tools()->setPacing(Pacing{30, 70});
    QVERIFY(t.tools()->startFileSend(path));
    QCOMPARE(far.readExactly(3, kWait), QByteArray("xxx"));

    t.form->close();
    QVERIFY(!t.tools()->fileSend()->isRunning());
    QCOMPARE(t.tools()->writer()->pending(), 0);
    QCOMPARE(t.saved(QStringLiteral("CommPort")), QStringLiteral("1"));
    QCOMPARE(iniValue(t.path(), QStringLiteral("Sending/ByteDelay")), QStringLiteral("30"));
    QCOMPARE(iniValue(t.path(), QStringLiteral("Sending/LineDelay")), QStringLiteral("70"));
    // At most the byte already on its way follows.
    QVERIFY(far.readExactly(2, 600).size() <= 1);

    // The next start sends at the same pace.
    t.restart();
    t.form->Form_Load();
    QCOMPARE(t.tools()->pacing().byteDelay, 30);
    QCOMPARE(t.tools()->pacing().lineDelay, 70);
}

void TestSending::breakAndPulsesOnLoopback()
{
    Terminal t(ComPortMap::Loopback);
    QVERIFY2(t.comm->IsOpen(), qPrintable(t.comm->LastError()));
    SentTimes observed;
    t.comm->setLineObserver(&observed);
    QList<int> events;
    connect(t.comm, &SerialPortControl::SerialEvent, this, [&] { events.append(t.comm->EventCode()); });
    const bool dtr = t.comm->DtrEnabled();
    const bool rts = t.comm->RtsEnabled();
    QVERIFY(dtr && rts);

    QVERIFY(t.tools()->pulse(LinePulser::Dtr, 80));
    QVERIFY(!t.comm->DtrEnabled());
    QVERIFY2(!t.tools()->pulse(LinePulser::Dtr, 80), "a second pulse of a pulsing line was taken");
    QTRY_COMPARE_WITH_TIMEOUT(t.comm->DtrEnabled(), true, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(events.count(SerialPortControl::EventDsrChanged), 2, kWait);
    QCOMPARE(events.count(SerialPortControl::EventCdChanged), 2);
    QCOMPARE(events.count(SerialPortControl::EventCtsChanged), 0);
    QCOMPARE(observed.lines, (QList<std::pair<bool, bool>>{{false, true}, {true, true}}));

    events.clear();
    observed.lines.clear();
    QVERIFY(t.tools()->pulse(LinePulser::Rts, 80));
    QTRY_COMPARE_WITH_TIMEOUT(events.count(SerialPortControl::EventCtsChanged), 2, kWait);
    QCOMPARE(t.comm->RtsEnabled(), true);
    QCOMPARE(observed.lines, (QList<std::pair<bool, bool>>{{true, false}, {true, true}}));
    QCOMPARE(events.count(SerialPortControl::EventDsrChanged), 0);

    // The break comes back as a receiving UART reports it: a NUL byte and
    // the break counter raised.
    QVERIFY(t.tools()->sendBreak(40));
    QCOMPARE(observed.breaks, QList<int>{40});
    QTRY_COMPARE_WITH_TIMEOUT(t.input(), QByteArray(1, '\0'), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(observed.breakCount, 1u, kWait);
    t.comm->setLineObserver(nullptr);

    // Nothing of the sort on a closed port, and the window says why.
    t.comm->IsOpen(false);
    QVERIFY(!t.tools()->sendBreak(40));
    QVERIFY(!t.tools()->pulse(LinePulser::Dtr, 40));
    QVERIFY2(t.form->statusBar()->currentMessage().contains(QStringLiteral("no port is open"), Qt::CaseInsensitive),
             qPrintable(t.form->statusBar()->currentMessage()));
}

QTEST_MAIN(TestSending)
#include "tst_sending.moc"
