// The real program started on a device path and mode from its command line:
// it opens that device at once and keeps the choice as a choice made in the
// window is kept.

#include "socatpair.h"
#include "usersettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

// Whether process `pid` holds `device` open.
bool holds(qint64 pid, const QString &device)
{
    const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
    const QStringList names = QDir(fds).entryList(QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        if (QFileInfo(fds + u'/' + name).symLinkTarget() == device)
            return true;
    }
    return false;
}

} // namespace

class tst_CommandLineE2e : public QObject
{
    Q_OBJECT

private slots:
    void startsOnTheDeviceGiven();
};

void tst_CommandLineE2e::startsOnTheDeviceGiven()
{
    if (!SocatPair::available())
        QSKIP("socat is not installed");
    SocatPair pair;
    QVERIFY2(pair.start(), qPrintable(pair.errorString()));

    // The stored port is another one: the command line must win over it.
    QTemporaryDir config;
    const QString ini = writeUserSettings(config.path(), "[Settings]\nCOMModeString=\"9600,N,8,1\"\nCommPort=0\n");
    QVERIFY(!ini.isEmpty());

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    env.insert(QStringLiteral("XDG_CACHE_HOME"), config.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral(PORTLARK_BINARY),
                  {QStringLiteral("--port"), pair.pathA(), QStringLiteral("--mode"), QStringLiteral("19200,e,7,1")});
    QVERIFY2(program.waitForStarted(30000), qPrintable(program.errorString()));

    QTRY_VERIFY_WITH_TIMEOUT(holds(program.processId(), pair.deviceA()) || program.state() != QProcess::Running, 60000);
    QVERIFY2(holds(program.processId(), pair.deviceA()), "the program did not open the device given");

    QVERIFY(::kill(pid_t(program.processId()), SIGTERM) == 0);
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitCode(), 0);

    QSettings saved(ini, QSettings::IniFormat);
    QCOMPARE(saved.value(QStringLiteral("Ports/COM5")).toString(), pair.pathA());
    QCOMPARE(saved.value(QStringLiteral("Settings/CommPort")).toString(), QStringLiteral("5"));
    QCOMPARE(saved.value(QStringLiteral("Settings/COMModeString")).toString(), QStringLiteral("19200,E,7,1"));
}

QTEST_GUILESS_MAIN(tst_CommandLineE2e)
#include "tst_commandline_e2e.moc"
