// Rates outside the settings dialog's list: a mode from the settings file
// opens the device at exactly that rate, and a device whose driver settles on
// another rate is caught and named.

#include "linerate.h"
#include "mainform.h"
#include "modestring.h"
#include "portstatelabel.h"
#include "realserialportcontrol.h"
#include "socatpair.h"
#include "terminalfixture.h"

#include <QFile>
#include <QTest>

#include <asm/termbits.h>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// The rates the driver holds for the terminal `fd`, read past the code under test.
std::pair<quint32, quint32> driverRates(int fd)
{
    struct termios2 tio = {};
    if (::ioctl(fd, TCGETS2, &tio) != 0)
        return {0, 0};
    return {tio.c_ospeed, tio.c_ispeed};
}

} // namespace

class tst_LineRate : public QObject
{
    Q_OBJECT

private slots:
    void refusalIsNamed();
    void windowOpensAtStoredRate_data();
    void windowOpensAtStoredRate();
};

void tst_LineRate::refusalIsNamed()
{
    // A driver that cannot reach a rate leaves another one in force; a
    // pseudo-terminal set to 115200 stands for it, since that is all the
    // check reads.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(master >= 0);
    QVERIFY(::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    QVERIFY(slave >= 0);
    struct termios2 tio = {};
    QCOMPARE(::ioctl(slave, TCGETS2, &tio), 0);
    tio.c_cflag = (tio.c_cflag & ~CBAUD) | BOTHER;
    tio.c_ospeed = tio.c_ispeed = 115200;
    QCOMPARE(::ioctl(slave, TCSETS2, &tio), 0);

    QCOMPARE(ReadLineRate(slave), std::optional<qint32>(115200));
    QCOMPARE(LineRateRefusal(slave, 3000000),
             QStringLiteral("the device does not accept 3000000 baud (its driver set 115200)"));
    QCOMPARE(LineRateRefusal(slave, 115200), QString());

    // Something that is no terminal cannot tell: no refusal is made up.
    int pipeEnds[2];
    QCOMPARE(::pipe(pipeEnds), 0);
    QCOMPARE(ReadLineRate(pipeEnds[0]), std::nullopt);
    QCOMPARE(LineRateRefusal(pipeEnds[0], 250000), QString());
    for (int fd : {pipeEnds[0], pipeEnds[1], slave, master})
        ::close(fd);
}

void tst_LineRate::windowOpensAtStoredRate_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<quint32>("rate");
    QTest::newRow("250000, no Bnnn constant") << "250000,N,8,1" << 250000u;
    QTest::newRow("1000000") << "1000000,N,8,1" << 1000000u;
    QTest::newRow("3000000") << "3000000,E,7,2" << 3000000u;
    QTest::newRow("an odd rate") << "31250,N,8,1" << 31250u;
}

void tst_LineRate::windowOpensAtStoredRate()
{
    QFETCH(QString, mode);
    QFETCH(quint32, rate);
    if (!SocatPair::available())
        QSKIP("socat is not installed");
    ModeString = QStringLiteral("9600,N,8,1");
    SocatPair pair;
    QVERIFY2(pair.start(), qPrintable(pair.errorString()));
    // The rate belongs to the terminal, not to one open file of it: a file
    // opened before the window's exclusive open reads it back.
    const int fd = ::open(QFile::encodeName(pair.deviceA()).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(fd >= 0);

    RealPortTerminal t(TerminalFixture::MappedPortIni(1, pair.pathA(), mode));
    t.form->Form_Load();
    QVERIFY2(t.comm->IsOpen(), qPrintable(t.comm->LastError()));
    const auto [out, in] = driverRates(fd);
    ::close(fd);
    QCOMPARE(out, rate);
    QCOMPARE(in, rate);
    QCOMPARE(t.form->portState->text(), QStringLiteral("COM1 open: %1 at %2").arg(pair.pathA(), mode));

    RawTty far(pair.pathB());
    QVERIFY(far.isOpen());
    t.comm->WriteOutput("at rate");
    QCOMPARE(far.readExactly(7, 30000), QByteArray("at rate"));
}

QTEST_MAIN(tst_LineRate)
#include "tst_linerate.moc"
