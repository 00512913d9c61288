// A lost port comes back by itself: identities, and a socat pair removed
// mid-receive and made again at the same path.
#include "comportmap.h"
#include "portreplug.h"
#include "realserialportcontrol.h"
#include "socatpair.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class tst_Replug : public QObject
{
    Q_OBJECT

private slots:
    void identities();
    void returnsMidReceive();
};

void tst_Replug::identities()
{
    QTemporaryDir dir;
    const QString byId = dir.filePath(QStringLiteral("by-id"));
    QVERIFY(QDir().mkpath(byId));
    const QString link = byId + QStringLiteral("/usb-Maker_Adapter_1234-if00-port0");
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), link));

    // A by-id name is its own identity; a node reached by one takes its name;
    // a device without one is known by its path.
    QCOMPARE(PortReplug::identityOf(link, byId), link);
    QCOMPARE(PortReplug::identityOf(QStringLiteral("/dev/null"), byId), link);
    QCOMPARE(PortReplug::identityOf(QStringLiteral("/dev/zero"), byId), QStringLiteral("/dev/zero"));
    QCOMPARE(PortReplug::identityOf(ComPortMap::Loopback, byId), QString());
    // A bare name is nowhere in particular: nothing to wait for.
    QCOMPARE(PortReplug::identityOf(QStringLiteral("COM7"), byId), QString());

    QVERIFY(PortReplug::isPresent(link));
    QVERIFY(QFile::remove(link));
    QVERIFY(!PortReplug::isPresent(link));
    // A dangling link, or a path that is no device, is not a device back.
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")), link));
    QVERIFY(!PortReplug::isPresent(link));
    QVERIFY(!PortReplug::isPresent(dir.path()));
}

void tst_Replug::returnsMidReceive()
{
    if (!SocatPair::available())
        QSKIP("socat is not installed");
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a")), b = dir.filePath(QStringLiteral("b"));
    auto pair = std::make_unique<SocatPair>();
    QVERIFY2(pair->start(a, b), qPrintable(pair->errorString()));
    auto far = std::make_unique<RawTty>(b);
    QVERIFY2(far->isOpen(), qPrintable(far->errorString()));

    ComPortMap map;
    map.setEntries({{6, a}});
    RealSerialPortControl control(&map);
    PortReplug replug(control, map);
    QByteArray got;
    int lost = 0;
    connect(&control, &SerialPortControl::SerialEvent, &control, [&] {
        while (control.InputCount() > 0)
            got += control.ReadInput();
        if (control.EventCode() == SerialPortControl::EventDeviceGone) {
            ++lost;
            QVERIFY(replug.portLost());
        }
    });
    control.PortNumber(6);
    control.ModeSettings(QStringLiteral("57600,E,7,1"));
    control.FlowControl(1);
    control.DtrEnabled(false);
    control.RtsEnabled(true);
    control.IsOpen(true);
    QVERIFY2(control.IsOpen(), qPrintable(control.LastError()));
    replug.portOpened();
    QCOMPARE(replug.identity(), a);

    QByteArray before;
    for (int i = 0; i < 2000; ++i)
        before += QByteArray::number(i) + ',';
    QVERIFY(far->writeAll(before));
    QTRY_COMPARE_WITH_TIMEOUT(got.size(), before.size(), 10000);
    far.reset();
    pair->kill();
    QTRY_COMPARE_WITH_TIMEOUT(lost, 1, 10000);
    QVERIFY(replug.isWaiting());
    QVERIFY(!control.IsOpen());
    QCOMPARE(got, before);

    QSignalSpy back(&replug, &PortReplug::reopened);
    pair = std::make_unique<SocatPair>();
    QVERIFY2(pair->start(a, b), qPrintable(pair->errorString()));
    QElapsedTimer sinceReturn;
    sinceReturn.start();
    QTRY_COMPARE_WITH_TIMEOUT(back.size(), 1, 10000);
    qInfo("reopened %lld ms after the device was seen back (%lld ms after the pair was made again)",
          back.first().at(1).toLongLong(), sinceReturn.elapsed());
    QVERIFY(control.IsOpen());
    QVERIFY(!replug.isWaiting());
    QCOMPARE(control.ModeSettings(), QStringLiteral("57600,E,7,1"));
    QCOMPARE(control.FlowControl(), 1);
    QCOMPARE(control.DtrEnabled(), false);
    QCOMPARE(control.RtsEnabled(), true);

    far = std::make_unique<RawTty>(b);
    QVERIFY(far->writeAll("after"));
    QTRY_COMPARE_WITH_TIMEOUT(got, before + "after", 10000);

    // Choosing another port ends a wait.
    pair->kill();
    QTRY_COMPARE_WITH_TIMEOUT(lost, 2, 10000);
    QVERIFY(replug.isWaiting());
    replug.cancel();
    pair = std::make_unique<SocatPair>();
    QVERIFY2(pair->start(a, b), qPrintable(pair->errorString()));
    QTest::qWait(300);
    QVERIFY(!control.IsOpen());
    QCOMPARE(back.size(), 1);
}

QTEST_GUILESS_MAIN(tst_Replug)
#include "tst_replug.moc"
