// The session record as the running window keeps it: the real window over a
// socat pseudo-terminal pair and over the loopback plug, with the record the
// window made for itself. Bytes both ways, line changes, a lost device and
// its reopen all land in the record in order, and what the window saves
// reads back in tshark (and, raw, as the exact bytes) as what crossed.

#include "comportmap.h"
#include "mainform.h"
#include "modestring.h"
#include "pcapngfile.h"
#include "portcombobox.h"
#include "realserialportcontrol.h"
#include "sessioncontroller.h"
#include "sessionrecord.h"
#include "socatpair.h"
#include "terminalfixture.h"
#include "testbytes.h"

#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

constexpr int kWait = 30000; // generous: shared, loaded machines

struct Terminal : RealPortTerminal
{
    explicit Terminal(const QString &device)
        : RealPortTerminal(MappedPortIni(1, device))
    {
        form->Form_Load();
    }
    SessionController *session() const { return form->findChild<SessionController *>(); }
    SessionRecord *record() const { return session()->record(); }
};

// The events of the record in kind order of appearance, and the bytes of
// each direction joined.
struct RecordSummary
{
    QList<quint8> kinds;
    QByteArray received, sent;
    QList<quint8> outputLines, inputLines; // the line bits of each such event
    QStringList opened;                    // describe() of the open events
    bool timesInOrder = true;
};

RecordSummary summarize(SessionRecord &record)
{
    record.flush();
    RecordSummary s;
    qint64 last = 0;
    for (qint64 i = 0; i < record.eventCount(); ++i) {
        const RecordEvent e = record.event(i);
        s.timesInOrder = s.timesInOrder && e.time >= last;
        last = e.time;
        s.kinds.append(e.kind);
        if (e.kind == RecordEvent::Received)
            s.received += record.payload(i);
        else if (e.kind == RecordEvent::Sent)
            s.sent += record.payload(i);
        else if (e.kind == RecordEvent::OutputLines)
            s.outputLines.append(e.lines & (RecordEvent::Dtr | RecordEvent::Rts));
        else if (e.kind == RecordEvent::InputLines)
            s.inputLines.append(e.lines & (RecordEvent::Cts | RecordEvent::Dsr | RecordEvent::Cd));
        else if (e.kind == RecordEvent::Opened || e.kind == RecordEvent::Reopened)
            s.opened.append(record.describe(i));
    }
    return s;
}

bool saveFromWindow(SessionController &session, const QString &path, SessionFormat format, quint8 rawKind)
{
    QSignalSpy done(&session, &SessionController::saveFinished);
    if (!session.startSave(path, format, rawKind))
        return false;
    return done.wait(kWait) && done.first().first().toBool();
}

} // namespace

class tst_SessionWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void socatSessionLostReopenedAndSaved();
    void loopbackLineChangesAreRecorded();

private:
    std::unique_ptr<QTemporaryDir> m_cache;
};

void tst_SessionWindow::init()
{
    ModeString = QStringLiteral("9600,N,8,1");
    HandshakeMode = 0;
    // The window spools under the user's cache folder: a fresh one per test.
    m_cache = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CACHE_HOME", QFile::encodeName(m_cache->path()));
}

void tst_SessionWindow::cleanup()
{
    m_cache.reset();
}

void tst_SessionWindow::socatSessionLostReopenedAndSaved()
{
    if (!SocatPair::available())
        QSKIP("socat is not installed");
    QTemporaryDir links;
    const QString pathA = links.filePath(QStringLiteral("a")), pathB = links.filePath(QStringLiteral("b"));
    auto pair = std::make_unique<SocatPair>();
    QVERIFY2(pair->start(pathA, pathB), qPrintable(pair->errorString()));
    const QString firstDevice = pair->deviceA();
    Terminal t(pathA);
    QVERIFY2(t.comm->IsOpen(), qPrintable(t.comm->LastError()));
    QVERIFY(t.session() && t.record()->isValid());
    QVERIFY(t.record()->spoolPath().startsWith(m_cache->path() + QStringLiteral("/NerovaPortlark/")));

    auto far = std::make_unique<RawTty>(pathB);
    QVERIFY2(far->isOpen(), qPrintable(far->errorString()));
    const QByteArray before = allByteValues() + QByteArray("\x00\x00\x7e", 3);
    QVERIFY(far->writeAll(before));
    QTRY_COMPARE_WITH_TIMEOUT(t.input(), before, kWait);

    // Longer than one pcapng packet may be: it is sent in one write.
    const QByteArray sent = QByteArray("AT\r\x00\xff", 5) + allByteValues(1200);
    t.setOutput(sent);
    t.form->Command2->click();
    QCOMPARE(far->readExactly(sent.size(), kWait), sent);
    t.form->chkDTR->setCheckState(Qt::Unchecked);
    t.form->chkDTR->setCheckState(Qt::Checked);

    // The cable is pulled, then put back at the same place.
    far.reset();
    pair->kill();
    QTRY_VERIFY_WITH_TIMEOUT(!t.comm->IsOpen(), kWait);
    pair = std::make_unique<SocatPair>();
    QVERIFY2(pair->start(pathA, pathB), qPrintable(pair->errorString()));
    // The window may bring the port back by itself; otherwise the user
    // chooses it again.
    if (!QTest::qWaitFor([&] { return t.comm->IsOpen(); }, 3000))
        emit t.form->Combo2->activated(1);
    QVERIFY2(t.comm->IsOpen(), qPrintable(t.comm->LastError()));
    far = std::make_unique<RawTty>(pathB);
    QVERIFY(far->isOpen());
    const QByteArray after("after the return\x00", 17);
    QVERIFY(far->writeAll(after));
    QTRY_COMPARE_WITH_TIMEOUT(t.input(), before + after, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(summarize(*t.record()).received, before + after, kWait);

    const RecordSummary s = summarize(*t.record());
    QVERIFY(s.timesInOrder);
    QCOMPARE(s.sent, sent);
    QCOMPARE(s.kinds.first(), quint8(RecordEvent::Opened));
    QVERIFY2(s.opened.first().contains(firstDevice) && s.opened.first().contains(QStringLiteral("9600,N,8,1")),
             qPrintable(s.opened.first()));
    // A pseudo-terminal keeps no error counters: said once per open, not after every read.
    QVERIFY(s.kinds.count(RecordEvent::NoErrorCounters) >= 1 && s.kinds.count(RecordEvent::NoErrorCounters) <= 2);
    QVERIFY(!s.kinds.contains(RecordEvent::Errors));
    // DTR off, then on again, as the program set them.
    const qsizetype dtrOff = s.outputLines.indexOf(quint8(RecordEvent::Rts));
    QVERIFY2(dtrOff >= 0 && s.outputLines.indexOf(quint8(RecordEvent::Dtr | RecordEvent::Rts), dtrOff) > dtrOff,
             qPrintable(QString::number(s.outputLines.size())));
    const qsizetype lost = s.kinds.indexOf(RecordEvent::PortLost);
    QVERIFY(lost > s.kinds.indexOf(RecordEvent::Sent));
    QVERIFY(s.kinds.indexOf(RecordEvent::Reopened, lost) > lost);

    // Saved from the window: the received bytes exactly, and a pcapng file
    // that tshark reads with the same bytes in each direction.
    QTemporaryDir out;
    const QString raw = out.filePath(QStringLiteral("rx.bin"));
    QVERIFY(saveFromWindow(*t.session(), raw, SessionFormat::Raw, RecordEvent::Received));
    QFile rawFile(raw);
    QVERIFY(rawFile.open(QIODevice::ReadOnly));
    QCOMPARE(rawFile.readAll(), before + after);

    if (QStandardPaths::findExecutable(QStringLiteral("tshark")).isEmpty())
        QSKIP("tshark is not installed (scripts/setup.sh installs it)");
    const QString pcap = out.filePath(QStringLiteral("session.pcapng"));
    QVERIFY(saveFromWindow(*t.session(), pcap, SessionFormat::Pcapng, RecordEvent::Received));
    const QStringList rows
        = tshark({QStringLiteral("-r"), pcap, QStringLiteral("-T"), QStringLiteral("fields"), QStringLiteral("-E"),
                  QStringLiteral("separator=|"), QStringLiteral("-e"), QStringLiteral("rtacser.eventtype"),
                  QStringLiteral("-e"), QStringLiteral("data.data")});
    QByteArray rx, tx;
    for (const QString &row : rows) {
        const QStringList f = row.split(u'|');
        QVERIFY2(f.size() == 2, qPrintable(row));
        if (f[0] == QStringLiteral("0x02"))
            rx += QByteArray::fromHex(f[1].toLatin1());
        else if (f[0] == QStringLiteral("0x01"))
            tx += QByteArray::fromHex(f[1].toLatin1());
    }
    QCOMPARE(rx, before + after);
    QCOMPARE(tx, sent);
    // The spool itself, as a crash would leave it, opens too.
    t.record()->flush();
    const QStringList spool = tshark({QStringLiteral("-r"), t.record()->spoolPath()});
    QVERIFY2(!spool.isEmpty() && !spool.first().startsWith(QStringLiteral("tshark failed")),
             qPrintable(spool.value(0)));
}

// On the loopback plug DTR drives DSR and CD and RTS drives CTS: the record
// has each change the program made followed by the change it caused.
void tst_SessionWindow::loopbackLineChangesAreRecorded()
{
    Terminal t(ComPortMap::Loopback);
    QVERIFY2(t.comm->IsOpen(), qPrintable(t.comm->LastError()));
    t.form->chkDTR->setCheckState(Qt::Unchecked);
    QTRY_VERIFY_WITH_TIMEOUT(summarize(*t.record()).inputLines.contains(quint8(RecordEvent::Cts)), kWait);
    t.form->chkRTS->setCheckState(Qt::Unchecked);
    QTRY_VERIFY_WITH_TIMEOUT(summarize(*t.record()).inputLines.contains(quint8(0)), kWait);
    const QByteArray bytes("\x41\x00\x42", 3);
    t.setOutput(bytes);
    t.form->Command2->click();
    QTRY_COMPARE_WITH_TIMEOUT(summarize(*t.record()).received, bytes, kWait);

    const RecordSummary s = summarize(*t.record());
    QCOMPARE(s.sent, bytes);
    const quint8 all = RecordEvent::Cts | RecordEvent::Dsr | RecordEvent::Cd;
    // In order: all three in, then CTS alone (DTR off), then none (RTS off).
    const qsizetype first = s.inputLines.indexOf(all);
    const qsizetype ctsOnly = s.inputLines.indexOf(quint8(RecordEvent::Cts), first);
    QVERIFY2(first >= 0 && ctsOnly > first && s.inputLines.indexOf(quint8(0), ctsOnly) > ctsOnly,
             qPrintable(QString::number(s.inputLines.size())));
    QCOMPARE(s.outputLines.last(), quint8(0));
}

QTEST_MAIN(tst_SessionWindow)
#include "tst_sessionwindow.moc"
