// Helper for the real-window acceptance script, run as a second X client
// beside the program:
//
//   clipput put HEX     places the bytes on the clipboard as a pane's copy
//                       does (plain text and the private block), prints
//                       "ready" and keeps owning the selection until a line
//                       "quit" or the end of its input.
//   clipput get         prints the private block's bytes in hex; exits 1
//                       when the clipboard holds no private block.
//   clipput get --text  prints the clipboard's plain text.
//   clipput layout      prints, as shell assignments, where the terminal
//                       window's controls are, in pixels from the window's
//                       top left corner (the same code lays the window out).

#include "binarytextbox.h"
#include "bytelineedit.h"
#include "clipboardblock.h"
#include "comportmap.h"
#include "fakeserialportcontrol.h"
#include "mainform.h"
#include "paneclipboard.h"
#include "settingsstore.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTemporaryDir>

#include <cstdio>
#include <unistd.h>

namespace {

int put(const QByteArray &hex)
{
    const QByteArray bytes = QByteArray::fromHex(hex);
    if (bytes.isEmpty() || !BinaryTextBox::PutBytesOnClipboard(0, bytes)) {
        std::fprintf(stderr, "clipput: nothing placed\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&input] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0 || QByteArray(buffer, int(n)).contains("quit")) {
            input.setEnabled(false);
            QCoreApplication::quit();
        }
    });
    return QCoreApplication::exec();
}

int get(bool plainText)
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    if (!data) {
        std::fprintf(stderr, "clipget: the clipboard is empty\n");
        return 1;
    }
    if (plainText) {
        std::printf("%s\n", data->text().toUtf8().constData());
        return 0;
    }
    if (!data->hasFormat(QString::fromLatin1(ClipboardBlock::FormatName))) {
        std::fprintf(stderr, "clipget: no %s on the clipboard\n", ClipboardBlock::FormatName);
        return 1;
    }
    std::printf("%s\n", BinaryTextBox::GetBytesFromClipboard(0).toHex().constData());
    return 0;
}

int layout()
{
    QTemporaryDir dir;
    SettingsStore store(dir.filePath(QStringLiteral("layout.ini")));
    ComPortMap ports;
    MainForm form(new FakeSerialPortControl, &store, &ports);
    form.setAttribute(Qt::WA_DontShowOnScreen);
    form.show();
    QCoreApplication::processEvents();
    auto centre = [&form](const char *name, QWidget *w) {
        const QPoint p = w->mapTo(&form, w->rect().center());
        std::printf("%s_x=%d\n%s_y=%d\n", name, p.x(), name, p.y());
    };
    // A pane is clicked near its left end, where the first characters are.
    const QPoint text2 = form.Text2->mapTo(&form, QPoint(20, form.Text2->height() / 2));
    std::printf("text2_x=%d\ntext2_y=%d\n", text2.x(), text2.y());
    const QPoint text1 = form.Text1->mapTo(&form, QPoint(20, form.Text1->height() / 2));
    std::printf("text1_x=%d\ntext1_y=%d\n", text1.x(), text1.y());
    centre("send", form.Command2);
    centre("count", form.Text3);
    const QPoint dtr = form.chkDTR->mapTo(&form, QPoint(8, form.chkDTR->height() / 2));
    std::printf("dtr_x=%d\ndtr_y=%d\n", dtr.x(), dtr.y());
    std::printf("window_w=%d\nwindow_h=%d\n", form.width(), form.height());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("put"))
        return put(args[2].toLatin1());
    if (args.size() >= 2 && args[1] == QLatin1String("get"))
        return get(args.size() == 3 && args[2] == QLatin1String("--text"));
    if (args.size() == 2 && args[1] == QLatin1String("layout"))
        return layout();
    std::fprintf(stderr, "usage: clipput put HEX | get [--text] | layout\n");
    return 2;
}
