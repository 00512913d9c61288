#include "idlegapsplitter.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

constexpr qint64 Ms = 1000000;

RecordEvent ev(quint8 kind, qint64 timeMs, quint32 length = 0, quint16 flags = 0)
{
    RecordEvent e;
    e.kind = kind;
    e.time = timeMs * Ms;
    e.length = length;
    e.flags = flags;
    return e;
}

// The packets as "first:count:length" words.
QString cut(const IdleGapSplitter &s)
{
    QStringList words;
    for (qint64 i = 0; i < s.packetCount(); ++i) {
        const RecordPacket p = s.packet(i);
        words << QStringLiteral("%1:%2:%3").arg(p.firstEvent).arg(p.eventCount).arg(p.length);
    }
    return words.join(QLatin1Char(' '));
}

} // namespace

using Events = QList<RecordEvent>;

class tst_IdleGapSplitter : public QObject
{
    Q_OBJECT

private slots:
    void characterTime_data();
    void characterTime();
    void packets_data();
    void packets();
    void feedingInPiecesCutsAsFeedingAtOnce();
};

void tst_IdleGapSplitter::characterTime_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<double>("bits");
    QTest::addColumn<qint64>("characterNs");

    QTest::newRow("8N1 at 9600: ten bits") << "9600,N,8,1" << 10.0 << qint64(1041667);
    QTest::newRow("parity and two stop bits") << "9600,E,7,2" << 11.0 << qint64(1145833);
    QTest::newRow("one and a half stop bits") << "110,M,5,1.5" << 8.5 << qint64(77272727);
    QTest::newRow("lower-case parity, blanks") << "115200, o ,8,1" << 11.0 << qint64(95486);
    QTest::newRow("no baud rate") << ",N,8,1" << 10.0 << qint64(0);
    QTest::newRow("unknown parity") << "9600,X,8,1" << 0.0 << qint64(0);
    QTest::newRow("nine data bits") << "9600,N,9,1" << 0.0 << qint64(0);
    QTest::newRow("three stop bits") << "9600,N,8,3" << 0.0 << qint64(0);
    QTest::newRow("missing field") << "9600,N,8" << 0.0 << qint64(0);
    QTest::newRow("empty") << "" << 0.0 << qint64(0);
}

void tst_IdleGapSplitter::characterTime()
{
    QFETCH(QString, mode);
    QFETCH(double, bits);
    QFETCH(qint64, characterNs);
    QCOMPARE(bitsPerCharacter(mode), bits);
    QCOMPARE(characterTimeNs(mode), characterNs);
    QCOMPARE(idleGapNs(mode), qint64(std::llround(characterNs * 3.5)));
}

void tst_IdleGapSplitter::packets_data()
{
    QTest::addColumn<qint64>("gapNs");
    QTest::addColumn<qint64>("characterNs");
    QTest::addColumn<Events>("events");
    QTest::addColumn<QString>("expected");

    using E = RecordEvent;
    // Without a character time only the chunk times count.
    QTest::newRow("gap splits, at the threshold joins")
        << 4 * Ms << qint64(0)
        << Events{ev(E::Received, 0, 3), ev(E::Received, 4, 2), ev(E::Received, 9, 1), ev(E::Received, 10, 1)}
        << "0:2:5 2:2:2";
    // A long received chunk took its own length on the line: the time
    // between chunk ends is not idle time.
    QTest::newRow("received chunk's own line time is not idle")
        << 3 * Ms << Ms << Events{ev(E::Received, 0, 10), ev(E::Received, 20, 18), ev(E::Received, 45, 2)}
        << "0:2:28 2:1:2";
    // Writes handed to the device back to back queue up: the line is busy
    // until the earlier bytes are out.
    QTest::newRow("sent chunks queue behind each other")
        << 3 * Ms << Ms << Events{ev(E::Sent, 0, 8), ev(E::Sent, 1, 8), ev(E::Sent, 19, 4), ev(E::Sent, 27, 1)}
        << "0:3:20 3:1:1";
    QTest::newRow("direction change splits")
        << 100 * Ms << qint64(0)
        << Events{ev(E::Sent, 0, 8), ev(E::Received, 1, 5), ev(E::Received, 2, 2), ev(E::Sent, 3, 1)}
        << "0:1:8 1:2:7 3:1:1";
    QTest::newRow("line events stand alone and split")
        << 100 * Ms << qint64(0) << Events{ev(E::Received, 0, 4), ev(E::InputLines, 1), ev(E::InputLines, 1),
                                           ev(E::Received, 2, 4), ev(E::Errors, 3),     ev(E::Received, 4, 1)}
        << "0:1:4 1:1:0 2:1:0 3:1:4 4:1:0 5:1:1";
    QTest::newRow("lost chunk splits and has no bytes")
        << 100 * Ms << qint64(0)
        << Events{ev(E::Received, 0, 4), ev(E::Received, 1, 9, E::FlagLost), ev(E::Received, 2, 4)}
        << "0:1:4 1:1:0 2:1:4";
    QTest::newRow("zero gap: every chunk alone")
        << qint64(0) << qint64(0) << Events{ev(E::Received, 0, 1), ev(E::Received, 1, 1)} << "0:1:1 1:1:1";
}

void tst_IdleGapSplitter::packets()
{
    QFETCH(qint64, gapNs);
    QFETCH(qint64, characterNs);
    QFETCH(Events, events);
    QFETCH(QString, expected);
    IdleGapSplitter s(gapNs, characterNs);
    for (int i = 0; i < events.size(); ++i)
        s.append(events[i], i);
    QCOMPARE(cut(s), expected);
    QCOMPARE(s.eventsFed(), events.size());
}

// A live view feeds the splitter whatever arrived since the last time; the
// packets must not depend on where those pieces begin and end, and the last
// packet is open exactly while the gap has not passed.
void tst_IdleGapSplitter::feedingInPiecesCutsAsFeedingAtOnce()
{
    QRandomGenerator rng(12345);
    Events events;
    qint64 t = 0;
    for (int i = 0; i < 5000; ++i) {
        t += rng.bounded(6) * Ms / 2;
        const int r = rng.bounded(20);
        const quint8 kind = r < 10 ? RecordEvent::Received : r < 18 ? RecordEvent::Sent : RecordEvent::InputLines;
        RecordEvent e = ev(kind, 0, kind == RecordEvent::InputLines ? 0 : quint32(1 + rng.bounded(3)));
        e.time = t;
        events << e;
    }
    IdleGapSplitter once(2 * Ms, Ms / 4);
    for (int i = 0; i < events.size(); ++i)
        once.append(events[i], i);
    IdleGapSplitter pieces(2 * Ms, Ms / 4);
    for (int i = 0; i < events.size();) {
        const int end = qMin<int>(int(events.size()), i + rng.bounded(1, 50));
        for (; i < end; ++i)
            pieces.append(events[i], i);
        QVERIFY(pieces.packetCount() <= once.packetCount());
    }
    QCOMPARE(cut(pieces), cut(once));
    QVERIFY(once.packetCount() > 500 && once.packetCount() < 4500); // really cut, not all or nothing

    IdleGapSplitter tail(2 * Ms, 0);
    tail.append(ev(RecordEvent::Received, 10, 5), 0);
    QVERIFY(tail.lastOpenAt(12 * Ms));
    QVERIFY(!tail.lastOpenAt(12 * Ms + 1));
    tail.append(ev(RecordEvent::OutputLines, 11), 1);
    QVERIFY(!tail.lastOpenAt(11 * Ms));
}

QTEST_APPLESS_MAIN(tst_IdleGapSplitter)
#include "tst_idlegapsplitter.moc"
