#include "pcapngfile.h"
#include "sessionrecord.h"
#include "sessionwriter.h"
#include "socatpair.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>

namespace {

constexpr qint64 FloodChunk = 4096;

// The flood's bytes: every value, in a pattern that does not repeat with
// the chunk size, so a missing or doubled chunk shows.
QByteArray floodBytes(qint64 from, qint64 count)
{
    QByteArray b(qsizetype(count), Qt::Uninitialized);
    for (qint64 i = 0; i < count; ++i)
        b[qsizetype(i)] = char((from + i) % 251);
    return b;
}

// The child side of the kill test: records a received flood as fast as it
// can and reports after every flush how many bytes the spool holds.
int floodChild(const QString &dir)
{
    SessionRecord record(dir);
    if (!record.isValid())
        return 2;
    qint64 sent = 0;
    QObject::connect(&record, &SessionRecord::eventsAppended, &record, [&record](qint64 first, qint64 count) {
        qint64 bytes = 0;
        for (qint64 i = 0; i < first + count; ++i)
            bytes += record.event(i).length;
        std::printf("FLUSHED %lld\n", static_cast<long long>(bytes));
        std::fflush(stdout);
    });
    record.portOpened(LineObserver::now(), QStringLiteral("/dev/flood"), QStringLiteral("115200,N,8,1"), 0, false);
    for (;;) {
        record.bytesReceived(LineObserver::now(), floodBytes(sent, FloodChunk));
        sent += FloodChunk;
        QCoreApplication::processEvents();
    }
}

quint16 modbusCrc(const QByteArray &frame)
{
    quint16 crc = 0xFFFF;
    for (const char c : frame) {
        crc ^= quint8(c);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

QByteArray withCrc(QByteArray frame)
{
    const quint16 crc = modbusCrc(frame);
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

} // namespace

class tst_CaptureFiles : public QObject
{
    Q_OBJECT

private slots:
    void tsharkReadsModbusOverASocatPair();
    void killedMidFloodLeavesSpoolCompleteToLastFlush();
};

// A Modbus RTU request and its response cross a real pseudo-terminal pair;
// the record sees them as the port would, and the saved pcapng reads back in
// tshark with the event types, lines, times and bytes, and decodes as two
// Modbus frames.
void tst_CaptureFiles::tsharkReadsModbusOverASocatPair()
{
    if (QStandardPaths::findExecutable(QStringLiteral("tshark")).isEmpty())
        QSKIP("tshark is not installed (scripts/setup.sh installs it)");
    if (!SocatPair::available())
        QSKIP("socat is not installed");
    SocatPair pair;
    QVERIFY2(pair.start(), qPrintable(pair.errorString()));
    RawTty port(pair.pathA());
    RawTty device(pair.pathB());
    QVERIFY(port.isOpen() && device.isOpen());

    QTemporaryDir dir;
    SessionRecord record(dir.path());
    const QByteArray request = withCrc(QByteArray::fromHex("1103006b0003"));
    const QByteArray response = withCrc(QByteArray::fromHex("110306ae415652434"
                                                            "0"));
    record.portOpened(LineObserver::now(), pair.pathA(), QStringLiteral("9600,N,8,1"), 0, false);
    record.outputLines(LineObserver::now(), true, false);
    record.inputLines(LineObserver::now(), true, true, false, false);
    QVERIFY(port.writeAll(request));
    record.bytesSent(LineObserver::now(), request);
    QCOMPARE(device.readExactly(request.size(), 10000), request);
    QTest::qWait(20);
    QVERIFY(device.writeAll(response));
    QByteArray got;
    while (got.size() < response.size()) {
        const QByteArray chunk = port.readExactly(1, 10000); // byte by byte: many chunks
        QVERIFY(!chunk.isEmpty());
        record.bytesReceived(LineObserver::now(), chunk);
        got += chunk;
    }
    QCOMPARE(got, response);
    record.flush();
    QVERIFY(record.eventCount() > 5);

    SessionWriter::Options o;
    o.format = SessionFormat::Pcapng;
    o.gapNs = idleGapNs(QStringLiteral("9600,N,8,1"));
    o.characterNs = characterTimeNs(QStringLiteral("9600,N,8,1"));
    const QString path = dir.filePath(QStringLiteral("modbus.pcapng"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    SessionWriter w(record, &file, o);
    QVERIFY(w.begin() && w.write(record.eventCount()) && w.finish());
    file.close();

    const QStringList fields = tshark({QStringLiteral("-r"), path,
                                       QStringLiteral("-T"), QStringLiteral("fields"),
                                       QStringLiteral("-E"), QStringLiteral("separator=|"),
                                       QStringLiteral("-e"), QStringLiteral("rtacser.eventtype"),
                                       QStringLiteral("-e"), QStringLiteral("rtacser.dtr"),
                                       QStringLiteral("-e"), QStringLiteral("rtacser.rts"),
                                       QStringLiteral("-e"), QStringLiteral("rtacser.cts"),
                                       QStringLiteral("-e"), QStringLiteral("rtacser.dsr"),
                                       QStringLiteral("-e"), QStringLiteral("frame.time_epoch"),
                                       QStringLiteral("-e"), QStringLiteral("data.data")});
    qInfo() << "tshark fields:" << fields;
    QCOMPARE(fields.size(), 5);
    // event type | DTR | RTS | CTS | DSR | time | bytes
    QVERIFY2(fields[0].startsWith(QStringLiteral("0x00|0|0|0|0|")), qPrintable(fields[0]));
    QVERIFY2(fields[1].startsWith(QStringLiteral("0x00|1|0|0|0|")), qPrintable(fields[1]));
    QVERIFY2(fields[2].startsWith(QStringLiteral("0x00|1|0|1|1|")), qPrintable(fields[2]));
    const QStringList tx = fields[3].split(QLatin1Char('|'));
    const QStringList rx = fields[4].split(QLatin1Char('|'));
    QCOMPARE(tx.mid(0, 5), (QStringList{"0x01", "1", "0", "1", "1"}));
    QCOMPARE(rx.mid(0, 5), (QStringList{"0x02", "1", "0", "1", "1"}));
    QCOMPARE(tx[6], QString::fromLatin1(request.toHex()));
    QCOMPARE(rx[6], QString::fromLatin1(response.toHex()));
    // The block time, to the nanosecond.
    const qint64 sentWall = record.wallTimeNs(record.event(3).time);
    QCOMPARE(tx[5],
             QStringLiteral("%1.%2").arg(sentWall / 1000000000).arg(sentWall % 1000000000, 9, 10, QLatin1Char('0')));

    const QStringList modbus = tshark({QStringLiteral("-r"), path,
                                       QStringLiteral("-d"), QStringLiteral("rtacser.data,mbrtu"),
                                       QStringLiteral("-Y"), QStringLiteral("mbrtu"),
                                       QStringLiteral("-T"), QStringLiteral("fields"),
                                       QStringLiteral("-E"), QStringLiteral("separator=|"),
                                       QStringLiteral("-e"), QStringLiteral("mbrtu.unit_id"),
                                       QStringLiteral("-e"), QStringLiteral("modbus.func_code"),
                                       QStringLiteral("-e"), QStringLiteral("modbus.reference_num"),
                                       QStringLiteral("-e"), QStringLiteral("modbus.word_cnt"),
                                       QStringLiteral("-e"), QStringLiteral("modbus.regval_uint16")});
    const QStringList summary
        = tshark({QStringLiteral("-r"), path, QStringLiteral("-d"), QStringLiteral("rtacser.data,mbrtu"),
                  QStringLiteral("-Y"), QStringLiteral("mbrtu")});
    qInfo() << "tshark Modbus decode:" << summary;
    qInfo() << "tshark Modbus fields:" << modbus;
    QCOMPARE(modbus.size(), 2);
    // unit | function | first register | count | register values
    QCOMPARE(modbus[0], QStringLiteral("17|3|107|3|"));
    QCOMPARE(modbus[1], QStringLiteral("17|3|||44609,22098,17216"));
}

// Killed without warning in the middle of a flood, the recording leaves its
// spool behind: a whole pcapng file holding every byte up to at least its
// last flush, unchanged and in order, and offered as an orphan.
void tst_CaptureFiles::killedMidFloodLeavesSpoolCompleteToLastFlush()
{
    QTemporaryDir dir;
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--flood"), dir.path()});
    QVERIFY(child.waitForStarted());
    qint64 flushed = 0;
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (flushed < (qint64(8) << 20) && clock.elapsed() < 120000 && child.state() == QProcess::Running) {
        child.waitForReadyRead(1000);
        out += child.readAllStandardOutput();
        const qsizetype end = out.lastIndexOf('\n');
        const qsizetype start = out.lastIndexOf("FLUSHED ", end);
        if (start >= 0)
            flushed = out.mid(start + 8, end - start - 8).toLongLong();
    }
    QVERIFY2(flushed >= (qint64(8) << 20), out.right(200).constData());
    ::kill(pid_t(child.processId()), SIGKILL);
    QVERIFY(child.waitForFinished(10000));

    const QStringList orphans = SessionRecord::orphanedSpools(dir.path());
    QCOMPARE(orphans.size(), 1);
    const PcapngFile f = readPcapngFile(orphans[0]);
    QVERIFY2(f.ok, qPrintable(f.error));
    QByteArray bytes;
    for (const PcapngPacket &p : f.packets) {
        if (p.eventType == 2)
            bytes += p.payload;
    }
    QVERIFY2(bytes.size() >= flushed, qPrintable(QStringLiteral("%1 < %2").arg(bytes.size()).arg(flushed)));
    QVERIFY(bytes == floodBytes(0, bytes.size()));
}

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--flood") == 0) {
        QCoreApplication app(argc, argv);
        return floodChild(QString::fromLocal8Bit(argv[2]));
    }
    QCoreApplication app(argc, argv);
    tst_CaptureFiles tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_capturefiles.moc"
