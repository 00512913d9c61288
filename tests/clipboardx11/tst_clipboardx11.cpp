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
// the X11 clipboard byte for byte. This test runs itself a second time as the
// other program (--copy HEX serves a copy until its input closes; --paste
// prints what it pastes as hex).
class tst_ClipboardX11 : public QObject
{
    Q_OBJECT

private slots:
    void pasteWhatAnotherProcessCopied();
    void anotherProcessPastesWhatWeCopied();
};

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
    other.start(QCoreApplication::applicationFilePath(), { "--copy", QString::fromLatin1(bytes.toHex()) });
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
    other.start(QCoreApplication::applicationFilePath(), { "--paste" });
    // Our event loop must run while the other process asks for the data.
    QVERIFY(finished.wait(30000));
    QCOMPARE(other.exitCode(), 0);
    QCOMPARE(QByteArray::fromHex(other.readAllStandardOutput().trimmed()), bytes);
}

int main(int argc, char **argv)
{
    if (argc >= 3 && qstrcmp(argv[1], "--copy") == 0) {
        QApplication app(argc, argv);
        PutBytesOnClipboard(0, QByteArray::fromHex(argv[2]));
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
    QApplication app(argc, argv);
    tst_ClipboardX11 test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_clipboardx11.moc"
