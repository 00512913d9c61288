// What a line observer hears from the serial control, in order and with the
// right bytes, over the loopback plug and over a pseudo-terminal pair; and
// the output queue that goes with it (pending count, dropping, breaks).
#include "comportmap.h"
#include "lineobserver.h"
#include "realserialportcontrol.h"
#include "socatpair.h"
#include "testbytes.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

// Keeps every call as one line of text, and the bytes of each direction
// whole, with the times to check they never go backwards.
struct Recorder : LineObserver
{
    QStringList events;
    QByteArray sent, received;
    QList<qint64> times;

    void note(qint64 time, const QString &what)
    {
        times.append(time);
        events.append(what);
    }
    void portOpened(qint64 t, const QString &device, const QString &mode, int handshake, bool reopened) override
    {
        note(t, QStringLiteral("opened %1 %2 %3%4").arg(device, mode).arg(handshake).arg(reopened ? " again" : ""));
    }
    void portClosed(qint64 t) override { note(t, QStringLiteral("closed")); }
    void portLost(qint64 t, const QString &reason) override { note(t, QStringLiteral("lost ") + reason); }
    void bytesReceived(qint64 t, const QByteArray &bytes) override
    {
        received += bytes;
        // Consecutive reads are one entry, so the order test does not depend
        // on how the system splits the data.
        if (!events.isEmpty() && events.last() == QStringLiteral("received"))
            return;
        note(t, QStringLiteral("received"));
    }
    void bytesSent(qint64 t, const QByteArray &bytes) override
    {
        sent += bytes;
        if (!events.isEmpty() && events.last() == QStringLiteral("sent"))
            return;
        note(t, QStringLiteral("sent"));
    }
    void outputLines(qint64 t, bool dtr, bool rts) override
    {
        note(t, QStringLiteral("out dtr=%1 rts=%2").arg(dtr).arg(rts));
    }
    void inputLines(qint64 t, bool cts, bool dsr, bool cd, bool ri) override
    {
        note(t, QStringLiteral("in cts=%1 dsr=%2 cd=%3 ri=%4").arg(cts).arg(dsr).arg(cd).arg(ri));
    }
    void errorCounters(qint64 t, const ErrorCounters &c) override
    {
        note(t, QStringLiteral("counters %1 %2 %3 %4 breaks=%5")
                    .arg(c.overrun)
                    .arg(c.bufferOverrun)
                    .arg(c.parity)
                    .arg(c.framing)
                    .arg(c.breaks));
    }
    void noErrorCounters(qint64 t) override { note(t, QStringLiteral("no counters")); }
    void breakSent(qint64 t, int ms) override { note(t, QStringLiteral("break %1").arg(ms)); }

    bool timesInOrder() const { return std::is_sorted(times.begin(), times.end()); }
};

QByteArray drain(SerialPortControl &control)
{
    QByteArray bytes;
    while (control.InputCount() > 0)
        bytes += control.ReadInput();
    return bytes;
}

} // namespace

class tst_LineObserver : public QObject
{
    Q_OBJECT

private slots:
    void loopbackEventsInOrder();
    void ptyEventsInOrder();
    void dropOutputQuietsTheLine();
};

void tst_LineObserver::loopbackEventsInOrder()
{
    ComPortMap map;
    map.setEntries({{4, ComPortMap::Loopback}});
    RealSerialPortControl control(&map);
    Recorder rec;
    control.setLineObserver(&rec);
    QSignalSpy pending(&control, &SerialPortControl::OutputPendingChanged);
    QByteArray got;
    connect(&control, &SerialPortControl::SerialEvent, &control, [&] { got += drain(control); });

    control.PortNumber(4);
    control.ModeSettings(QStringLiteral("19200,E,7,2"));
    control.FlowControl(1);
    control.DtrEnabled(true);
    control.IsOpen(true);
    QVERIFY(control.IsOpen());

    control.WriteOutput("abc");
    QCOMPARE(control.OutputPending(), 3);
    QTRY_COMPARE(got, QByteArray("abc"));
    QCOMPARE(control.OutputPending(), 0);
    QCOMPARE(pending.size(), 2);
    QCOMPARE(pending.at(0).at(0).toLongLong(), 3);
    QCOMPARE(pending.at(1).at(0).toLongLong(), 0);

    control.DtrEnabled(false);
    QVERIFY(control.SendBreak(30));
    QVERIFY2(!control.SendBreak(30), "a second break while one is on was accepted");
    control.WriteOutput("d");
    QTRY_COMPARE(got, QByteArray("abc\0d", 5));
    QTest::qWait(60); // the break is over: another one is taken
    QVERIFY(control.SendBreak(5));
    QTRY_COMPARE(got.size(), 6);
    control.IsOpen(false);
    QVERIFY2(!control.SendBreak(5), "a break on a closed port was accepted");

    const QStringList expected{
        QStringLiteral("opened loopback 19200,E,7,2 1"),
        QStringLiteral("out dtr=1 rts=0"),
        QStringLiteral("in cts=0 dsr=1 cd=1 ri=0"),
        QStringLiteral("counters 0 0 0 0 breaks=0"),
        QStringLiteral("sent"),
        QStringLiteral("received"),
        QStringLiteral("out dtr=0 rts=0"),
        QStringLiteral("break 30"),
        QStringLiteral("sent"),
        QStringLiteral("in cts=0 dsr=0 cd=0 ri=0"), // DSR and CD fell together: told once
        QStringLiteral("counters 0 0 0 0 breaks=1"),
        QStringLiteral("received"),
        QStringLiteral("break 5"),
        QStringLiteral("counters 0 0 0 0 breaks=2"),
        QStringLiteral("received"),
        QStringLiteral("closed"),
    };
    QCOMPARE(rec.events, expected);
    QCOMPARE(rec.sent, QByteArray("abcd"));
    QCOMPARE(rec.received, QByteArray("abc\0d\0", 6));
    QVERIFY(rec.timesInOrder());
}

void tst_LineObserver::ptyEventsInOrder()
{
    if (!SocatPair::available())
        QSKIP("socat is not installed");
    SocatPair pair;
    QVERIFY2(pair.start(), qPrintable(pair.errorString()));
    RawTty far(pair.pathB());
    QVERIFY2(far.isOpen(), qPrintable(far.errorString()));
    const QString node = pair.deviceA();
    ComPortMap map;
    map.setEntries({{7, pair.pathA()}});
    RealSerialPortControl control(&map);
    Recorder rec;
    control.setLineObserver(&rec);
    QSignalSpy pending(&control, &SerialPortControl::OutputPendingChanged);
    QByteArray got;
    connect(&control, &SerialPortControl::SerialEvent, &control, [&] { got += drain(control); });

    control.PortNumber(7);
    control.ModeSettings(QStringLiteral("115200,N,8,1"));
    control.RtsEnabled(true);
    control.IsOpen(true);
    QVERIFY2(control.IsOpen(), qPrintable(control.LastError()));

    const QByteArray in = randomBytes(100000, 11);
    QVERIFY(far.writeAll(in));
    QTRY_COMPARE_WITH_TIMEOUT(got.size(), in.size(), 30000);

    // More than the terminal takes at once, so it goes out in several writes.
    const QByteArray out = randomBytes(1 << 20, 12);
    control.WriteOutput(out);
    QVERIFY(control.OutputPending() > 0);
    QVERIFY2(rec.sent.size() < out.size(), "bytes were told as sent before the device took them");
    QCOMPARE(far.readExactly(out.size(), 60000), out);
    QTRY_COMPARE(control.OutputPending(), 0);
    QCOMPARE(pending.last().at(0).toLongLong(), 0);
    QCOMPARE(rec.sent.size(), out.size());

    QVERIFY(control.SendBreak(10));
    control.DtrEnabled(true);
    pair.kill();
    QTRY_VERIFY_WITH_TIMEOUT(!control.IsOpen(), 10000);

    const QStringList expected{
        QStringLiteral("opened %1 115200,N,8,1 0").arg(node),
        QStringLiteral("out dtr=0 rts=1"),
        QStringLiteral("in cts=0 dsr=0 cd=0 ri=0"),
        QStringLiteral("no counters"), // a pseudo-terminal keeps none
        QStringLiteral("received"),
        QStringLiteral("sent"),
        QStringLiteral("break 10"),
        QStringLiteral("out dtr=1 rts=1"),
        QStringLiteral("lost ") + control.LastError(),
    };
    QCOMPARE(rec.events, expected);
    QVERIFY(rec.received == in);
    QVERIFY(rec.sent == out);
    QVERIFY(rec.timesInOrder());
}

void tst_LineObserver::dropOutputQuietsTheLine()
{
    if (!SocatPair::available())
        QSKIP("socat is not installed");
    SocatPair pair;
    QVERIFY2(pair.start(), qPrintable(pair.errorString()));
    RawTty far(pair.pathB());
    QVERIFY2(far.isOpen(), qPrintable(far.errorString()));
    ComPortMap map;
    map.setEntries({{7, pair.pathA()}});
    RealSerialPortControl control(&map);
    QSignalSpy pending(&control, &SerialPortControl::OutputPendingChanged);
    control.PortNumber(7);
    control.ModeSettings(QStringLiteral("115200,N,8,1"));
    control.IsOpen(true);
    QVERIFY2(control.IsOpen(), qPrintable(control.LastError()));

    // The far end reads nothing yet, so most of the block stays queued.
    const QByteArray block(4 << 20, 'x');
    control.WriteOutput(block);
    QTest::qWait(100);
    QVERIFY(control.OutputPending() > 0);
    control.DropOutput();
    QCOMPARE(control.OutputPending(), 0);
    QCOMPARE(pending.last().at(0).toLongLong(), 0);

    // What comes after the drop arrives, after at most what was on its way.
    control.WriteOutput("tail");
    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT((got += far.readAvailable()).endsWith("tail"), 20000);
    QVERIFY2(got.size() < block.size() / 2, qPrintable(QString::number(got.size())));
    QCOMPARE(got.count('x'), got.size() - 4);
}

QTEST_GUILESS_MAIN(tst_LineObserver)
#include "tst_lineobserver.moc"
