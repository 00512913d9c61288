#include "paneclipboard.h"

#include <QApplication>
#include <QClipboard>
#include <QProcess>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTest>

#include <cstdio>

using namespace BinaryTextBox;

// Copy in one running program, paste in another: the private block must cross
// the X11 clipboard byte for byte, and plain text as UTF-8 both ways. This
// test runs itself a second time as the other program (--copy HEX serves a
// pane copy and --copy-text HEX plain UTF-8 text, each until its input
// closes; --paste prints what a pane pastes as hex, --paste-text the UTF-8 of
// the clipboard's text).
class tst_ClipboardX11 : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pasteWhatAnotherProcessCopied();
    void anotherProcessPastesWhatWeCopied();
    void plainTextCrossesAsUtf8();
};

void tst_ClipboardX11::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X display: DISPLAY is not set or no X server answers there "
              "(run it under Xvfb, as scripts/setup.sh test and CI do)");
}

namespace {

// Runs this program as the other one with `args`; for a copy, returns once it
// serves the clipboard.
bool startOther(QProcess &other, const QStringList &args)
{
    other.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    other.start(QCoreApplication::applicationFilePath(), args);
    if (!other.waitForStarted())
        return false;
    if (!args.first().startsWith(QLatin1String("--copy")))
        return true;
    return other.waitForReadyRead(30000) && other.readLine().trimmed() == "ready";
}

// What the other program pastes, run while our event loop serves the clipboard.
QByteArray pastedByOther(const QString &mode)
{
    QProcess other;
    QSignalSpy finished(&other, &QProcess::finished);
    if (!startOther(other, {mode}) || !finished.wait(30000) || other.exitCode() != 0)
        return "failed";
    return QByteArray::fromHex(other.readAllStandardOutput().trimmed());
}

} // namespace

static QByteArray everyByteWithNuls()
{
    QByteArray bytes("A\0B\0\0", 5);
    for (int i = 255; i >= 0; --i)
        bytes.append(char(i));
    return bytes;
}

void tst_ClipboardX11::pasteWhatAnotherProcessCopied()
{
    const QByteArray bytes = everyByteWithNuls();
    QProcess other;
    other.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    other.start(QCoreApplication::applicationFilePath(), {"--copy", QString::fromLatin1(bytes.toHex())});
    QVERIFY(other.waitForStarted());
    QVERIFY(other.waitForReadyRead(30000));
    QCOMPARE(other.readLine().trimmed(), QByteArray("ready"));

    QCOMPARE(GetBytesFromClipboard(0), bytes);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("A")); // plain text ends at the first NUL

    other.closeWriteChannel();
    QVERIFY(other.waitForFinished(30000));
    QCOMPARE(other.exitCode(), 0);
}

void tst_ClipboardX11::anotherProcessPastesWhatWeCopied()
{
    const QByteArray bytes = everyByteWithNuls();
    QVERIFY(PutBytesOnClipboard(0, bytes));
    QProcess other;
    other.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QSignalSpy finished(&other, &QProcess::finished);
    other.start(QCoreApplication::applicationFilePath(), {"--paste"});
    // Our event loop must run while the other process asks for the data.
    QVERIFY(finished.wait(30000));
    QCOMPARE(other.exitCode(), 0);
    QCOMPARE(QByteArray::fromHex(other.readAllStandardOutput().trimmed()), bytes);
}

void tst_ClipboardX11::plainTextCrossesAsUtf8()
{
    // Another program's text "e-acute euro" pastes as its UTF-8 bytes.
    const QByteArray utf8("\xC3\xA9\xE2\x82\xAC", 5);
    QProcess other;
    QVERIFY(startOther(other, {"--copy-text", QString::fromLatin1(utf8.toHex())}));
    QCOMPARE(GetBytesFromClipboard(0), utf8);
    other.closeWriteChannel();
    QVERIFY(other.waitForFinished(30000));

    // Our bytes up to the first NUL reach the other program as that same text.
    QVERIFY(PutBytesOnClipboard(0, utf8 + QByteArray("\0tail", 5)));
    QCOMPARE(pastedByOther(QStringLiteral("--paste-text")), utf8);
}

int main(int argc, char **argv)
{
    // Without an X server the xcb plugin would abort the program; with the
    // offscreen one as fallback the test can say why it skips.
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform == "xcb")
        qputenv("QT_QPA_PLATFORM", "xcb;offscreen");

    if (argc >= 3 && (qstrcmp(argv[1], "--copy") == 0 || qstrcmp(argv[1], "--copy-text") == 0)) {
        QApplication app(argc, argv);
        if (qstrcmp(argv[1], "--copy") == 0)
            PutBytesOnClipboard(0, QByteArray::fromHex(argv[2]));
        else
            QApplication::clipboard()->setText(QString::fromUtf8(QByteArray::fromHex(argv[2])));
        std::printf("ready\n");
        std::fflush(stdout);
        // Keep owning the clipboard until the test closes our input.
        QSocketNotifier input(0, QSocketNotifier::Read);
        QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
            char buffer[64];
            if (std::fread(buffer, 1, sizeof buffer, stdin) == 0)
                app.quit();
        });
        return app.exec();
    }
    if (argc >= 2 && qstrcmp(argv[1], "--paste") == 0) {
        QApplication app(argc, argv);
        std::printf("%s\n", GetBytesFromClipboard(0).toHex().constData());
        return 0;
    }
    if (argc >= 2 && qstrcmp(argv[1], "--paste-text") == 0) {
        QApplication app(argc, argv);
        std::printf("%s\n", QApplication::clipboard()->text().toUtf8().toHex().constData());
        return 0;
    }
    QApplication app(argc, argv);
    tst_ClipboardX11 test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_clipboardx11.moc"
