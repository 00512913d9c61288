#include "pcapngfile.h"
#include "sessionwriter.h"
#include "testbytes.h"

#include <QBuffer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>

namespace {

constexpr qint64 Ms = 1000000;

QByteArray writeAll(const SessionRecord &record, const SessionWriter::Options &options)
{
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    SessionWriter w(record, &out, options);
    if (!w.begin() || !w.write(record.eventCount()) || !w.finish())
        return "failed: " + w.errorString().toUtf8();
    return out.data();
}

// A Modbus-like exchange: a request sent in two writes, a reply received in
// three reads, a line change, and another request after a long pause.
void exchange(SessionRecord &r, qint64 t0)
{
    r.portOpened(t0, QStringLiteral("/dev/ttyS0"), QStringLiteral("9600,N,8,1"), 0, false);
    r.outputLines(t0 + Ms, true, true);
    r.bytesSent(t0 + 10 * Ms, QByteArray::fromHex("01030000"));
    r.bytesSent(t0 + 11 * Ms, QByteArray::fromHex("000ac5cd"));
    r.bytesReceived(t0 + 30 * Ms, QByteArray::fromHex("0103"));
    r.bytesReceived(t0 + 31 * Ms, QByteArray::fromHex("14"));
    r.bytesReceived(t0 + 32 * Ms, allByteValues());
    r.inputLines(t0 + 40 * Ms, true, true, false, false);
    r.bytesSent(t0 + 500 * Ms, QByteArray::fromHex("0103"));
}

} // namespace

class tst_SessionWriter : public QObject
{
    Q_OBJECT

private slots:
    void isoTime_data();
    void isoTime();
    void escaping();
    void rawKeepsExactlyOneDirection();
    void textLogHasOneLinePerEvent();
    void pcapngHoldsIdleGapPacketsAndLiveEqualsSaved();
};

void tst_SessionWriter::isoTime_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<qint64>("wallNs");
    QTest::addColumn<QByteArray>("expected");
    const qint64 t = 1796771255213142483; // 2026-12-08T23:07:35.213142483Z
    QTest::newRow("UTC") << QByteArray("UTC") << t << QByteArray("2026-12-08T23:07:35.213142+00:00");
    QTest::newRow("half hour ahead") << QByteArray("Asia/Kolkata") << t
                                     << QByteArray("2026-12-09T04:37:35.213142+05:30");
    QTest::newRow("behind") << QByteArray("America/St_Johns") << t << QByteArray("2026-12-08T19:37:35.213142-03:30");
    QTest::newRow("whole second") << QByteArray("UTC") << qint64(1796771255000000999)
                                  << QByteArray("2026-12-08T23:07:35.000000+00:00");
}

void tst_SessionWriter::isoTime()
{
    QFETCH(QByteArray, zone);
    QFETCH(qint64, wallNs);
    QFETCH(QByteArray, expected);
    const QByteArray old = qgetenv("TZ");
    qputenv("TZ", zone);
    ::tzset();
    const QByteArray got = isoTimeMicros(wallNs);
    qputenv("TZ", old);
    ::tzset();
    QCOMPARE(got, expected);
}

void tst_SessionWriter::escaping()
{
    QCOMPARE(escapeBytes(allByteValues().left(0x0E)),
             QByteArray("\\x00\\x01\\x02\\x03\\x04\\x05\\x06\\x07\\x08\\t\\n\\x0b\\x0c\\r"));
    QCOMPARE(escapeBytes("a \"q\" \\ ~\x7f\x80\xff"), QByteArray("a \\\"q\\\" \\\\ ~\\x7f\\x80\\xff"));
}

void tst_SessionWriter::rawKeepsExactlyOneDirection()
{
    QTemporaryDir dir;
    SessionRecord r(dir.path());
    exchange(r, r.startMonotonic());
    r.flush();
    SessionWriter::Options o;
    o.format = SessionFormat::Raw;
    o.rawKind = RecordEvent::Received;
    QCOMPARE(writeAll(r, o), QByteArray::fromHex("010314") + allByteValues());
    o.rawKind = RecordEvent::Sent;
    QCOMPARE(writeAll(r, o), QByteArray::fromHex("01030000000ac5cd0103"));
}

void tst_SessionWriter::textLogHasOneLinePerEvent()
{
    QTemporaryDir dir;
    SessionRecord r(dir.path());
    exchange(r, r.startMonotonic());
    r.flush();
    SessionWriter::Options o;
    o.format = SessionFormat::TextLog;
    const QList<QByteArray> lines = writeAll(r, o).split('\n');
    QCOMPARE(lines.size(), r.eventCount() + 1);
    QVERIFY(lines.last().isEmpty());
    const QRegularExpression stamp(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{6}[+-]\\d\\d:\\d\\d "));
    const QList<QByteArray> rest{
        "PORT Port opened: /dev/ttyS0, 9600,N,8,1, handshake none",
        "LINE DTR on, RTS on",
        "TX 4 01 03 00 00 \"\\x01\\x03\\x00\\x00\"",
        "TX 4 00 0a c5 cd \"\\x00\\n\\xc5\\xcd\"",
        "RX 2 01 03 \"\\x01\\x03\"",
        "RX 1 14 \"\\x14\"",
        "RX 256 " + allByteValues().toHex(' ') + " \"" + escapeBytes(allByteValues()) + "\"",
        "LINE CTS on, DSR on, CD off, RI off",
        "TX 2 01 03 \"\\x01\\x03\"",
    };
    for (int i = 0; i < rest.size(); ++i) {
        const QString line = QString::fromLatin1(lines[i]);
        const auto m = stamp.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line));
        QCOMPARE(lines[i].mid(m.capturedLength()), rest[i]);
        QCOMPARE(lines[i].left(m.capturedLength() - 1), isoTimeMicros(r.wallTimeNs(r.event(i).time)));
    }
}

// The packets of a saved pcapng file are the idle-gap packets; a live
// capture, fed in pieces as the record grows, writes the same file byte for
// byte once it stops.
void tst_SessionWriter::pcapngHoldsIdleGapPacketsAndLiveEqualsSaved()
{
    QTemporaryDir dir;
    SessionRecord r(dir.path());
    const qint64 t0 = r.startMonotonic();
    exchange(r, t0);
    r.flush();
    SessionWriter::Options o;
    o.format = SessionFormat::Pcapng;
    o.gapNs = 5 * Ms;
    const QByteArray saved = writeAll(r, o);
    const PcapngFile f = readPcapng(saved);
    QVERIFY2(f.ok, qPrintable(f.error));
    QCOMPARE(f.linkType, quint16(250));
    QCOMPARE(f.packets.size(), 6);
    QCOMPARE(f.packets[0].comment, r.describe(0));
    QCOMPARE(f.packets[1].comment, QStringLiteral("DTR on, RTS on"));
    QCOMPARE(f.packets[2].eventType, quint8(1));
    QCOMPARE(f.packets[2].payload, QByteArray::fromHex("01030000000ac5cd"));
    QCOMPARE(f.packets[2].lines, quint8(RecordEvent::Dtr | RecordEvent::Rts));
    QCOMPARE(f.packets[2].timestamp, quint64(r.wallTimeNs(t0 + 10 * Ms)));
    QCOMPARE(f.packets[3].eventType, quint8(2));
    QCOMPARE(f.packets[3].payload, QByteArray::fromHex("010314") + allByteValues());
    QCOMPARE(f.packets[4].lines, quint8(RecordEvent::Dtr | RecordEvent::Rts | RecordEvent::Cts | RecordEvent::Dsr));
    QCOMPARE(f.packets[5].payload, QByteArray::fromHex("0103"));

    // Live: started on an empty record, fed after every flush and settled
    // by a clock that, as a real one, never runs behind the events.
    QTemporaryDir dir2;
    SessionRecord live(dir2.path());
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    SessionWriter w(live, &out, o);
    QVERIFY(w.begin(0));
    QObject::connect(&live, &SessionRecord::eventsAppended, &live,
                     [&](qint64 first, qint64 count) { QVERIFY(w.write(first + count)); });
    const qint64 l0 = live.startMonotonic();
    live.portOpened(l0, QStringLiteral("/dev/ttyS0"), QStringLiteral("9600,N,8,1"), 0, false);
    live.outputLines(l0 + Ms, true, true);
    live.bytesSent(l0 + 10 * Ms, QByteArray::fromHex("01030000"));
    live.flush();
    QVERIFY(w.settle(l0 + 11 * Ms)); // the request may still grow
    live.bytesSent(l0 + 11 * Ms, QByteArray::fromHex("000ac5cd"));
    live.bytesReceived(l0 + 30 * Ms, QByteArray::fromHex("0103"));
    live.flush();
    live.bytesReceived(l0 + 31 * Ms, QByteArray::fromHex("14"));
    live.bytesReceived(l0 + 32 * Ms, allByteValues());
    live.inputLines(l0 + 40 * Ms, true, true, false, false);
    live.flush();
    QVERIFY(w.settle(l0 + 499 * Ms)); // a line event is complete at once
    QCOMPARE(readPcapng(out.data()).packets.size(), 5);
    live.bytesSent(l0 + 500 * Ms, QByteArray::fromHex("0103"));
    live.flush();
    const qint64 beforeSettle = out.data().size();
    QVERIFY(w.settle(l0 + 505 * Ms)); // still within the gap
    QCOMPARE(out.data().size(), beforeSettle);
    QVERIFY(w.settle(l0 + 506 * Ms)); // the gap has passed: the last request is out
    QVERIFY(out.data().size() > beforeSettle);
    QVERIFY(w.finish());
    QCOMPARE(out.data(), writeAll(live, o));
    QCOMPARE(readPcapng(out.data()).packets.size(), 6);
}

QTEST_GUILESS_MAIN(tst_SessionWriter)
#include "tst_sessionwriter.moc"
