// The program itself, ended by a signal as a desktop logout, kill or Ctrl+C
// ends it: it must leave as File > Exit leaves, with its settings saved, its
// port closed and the port's lock file gone.

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

// The lock files naming process `pid` as the holder of a port.
QStringList lockFilesOf(qint64 pid)
{
    QStringList found;
    for (const char *dir : {"/var/lock", "/run/lock", "/tmp", "/var/tmp", "/var/spool/locks", "/var/spool/uucp"}) {
        const QStringList names = QDir(dir).entryList({QStringLiteral("LCK..*")}, QDir::Files);
        for (const QString &name : names) {
            QFile f(QString::fromLatin1(dir) + u'/' + name);
            if (f.open(QIODevice::ReadOnly) && f.readLine().trimmed().toLongLong() == pid)
                found << f.fileName();
        }
    }
    return found;
}

} // namespace

class tst_Shutdown : public QObject
{
    Q_OBJECT

private slots:
    void signalEndsLikeExit_data();
    void signalEndsLikeExit();
};

void tst_Shutdown::signalEndsLikeExit_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("questionOpen"); // a box waits for an answer when the signal comes
    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    QTest::newRow("SIGINT") << int(SIGINT) << false;
    QTest::newRow("SIGHUP") << int(SIGHUP) << false;
    QTest::newRow("SIGHUP, a question open") << int(SIGHUP) << true;
}

void tst_Shutdown::signalEndsLikeExit()
{
    QFETCH(int, signal);
    QFETCH(bool, questionOpen);
    if (!SocatPair::available())
        QSKIP("socat is not installed");
    SocatPair pair;
    QVERIFY2(pair.start(), qPrintable(pair.errorString()));

    // Only the port keys are stored: the other three appear only if the
    // program saves its settings on the way out.
    QTemporaryDir config;
    const QString ini
        = writeUserSettings(config.path(), "[Settings]\nCOMModeString=\"19200,E,7,1\"\nCommPort=1\n[Ports]\nCOM1="
                                               + QFile::encodeName(pair.pathA()) + "\n");
    QVERIFY(!ini.isEmpty());

    // Records left by runs that crashed: the program asks about each, one
    // after the other, once its window is up.
    if (questionOpen) {
        const QString spools = config.filePath(QStringLiteral("cache/NerovaPortlark"));
        QVERIFY(QDir().mkpath(spools));
        for (const char *name : {"/session-20260101-000000-1.pcapng", "/session-20260101-000001-2.pcapng"}) {
            QFile orphan(spools + QLatin1String(name));
            QVERIFY(orphan.open(QIODevice::WriteOnly));
        }
    }

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    env.insert(QStringLiteral("XDG_CACHE_HOME"), config.filePath(QStringLiteral("cache")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral(PORTLARK_BINARY), QStringList());
    QVERIFY2(program.waitForStarted(30000), qPrintable(program.errorString()));

    // The port is open once its lock file names the program.
    QTRY_VERIFY_WITH_TIMEOUT(!lockFilesOf(program.processId()).isEmpty() || program.state() != QProcess::Running,
                             60000);
    const QStringList locks = lockFilesOf(program.processId());
    QVERIFY2(!locks.isEmpty(), "the program did not open its port");
    if (questionOpen)
        QTest::qWait(1000); // not a check: the end must be the same with or without the box up

    QVERIFY(::kill(pid_t(program.processId()), signal) == 0);
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    for (const QString &lock : locks)
        QVERIFY2(!QFile::exists(lock), qPrintable(lock + QStringLiteral(" was left behind")));
    QSettings saved(ini, QSettings::IniFormat);
    QCOMPARE(saved.value(QStringLiteral("Settings/COMModeString")).toString(), QStringLiteral("19200,E,7,1"));
    QCOMPARE(saved.value(QStringLiteral("Settings/CommPort")).toString(), QStringLiteral("1"));
    QCOMPARE(saved.value(QStringLiteral("Settings/Handshake")).toString(), QStringLiteral("0"));
    QCOMPARE(saved.value(QStringLiteral("Settings/DTREnable")).toString(), QStringLiteral("1"));
    QCOMPARE(saved.value(QStringLiteral("Settings/RTSEnable")).toString(), QStringLiteral("1"));
    QCOMPARE(saved.value(QStringLiteral("Ports/COM1")).toString(), pair.pathA());
}

QTEST_GUILESS_MAIN(tst_Shutdown)
#include "tst_shutdown.moc"
