// Paste benchmark: puts a 16 MiB private clipboard block (every byte value,
// NULs included) on the clipboard, pastes it into an output pane with Ctrl+V
// through the pane's own key handling, then sends the pane's bytes through a
// socat pseudo-terminal pair with the real serial control and checks that
// every byte arrives in order at the far end.
//
//   QT_QPA_PLATFORM=offscreen build/bench/paste/bench_paste [megabytes]   (default 16)

#include "binarytextbox.h"
#include "bytelineedit.h"
#include "bytetext.h"
#include "comportmap.h"
#include "paneclipboard.h"
#include "realserialportcontrol.h"
#include "socatpair.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr qsizetype MiB = 1024 * 1024;
constexpr int kRuns = 3;

QByteArray payload(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 256) & 0xFF);
    return bytes;
}

void pressCtrlV(QWidget *box)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier, QStringLiteral("\x16"));
    QApplication::sendEvent(box, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_V, Qt::ControlModifier, QStringLiteral("\x16"));
    QApplication::sendEvent(box, &release);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qsizetype size = (argc > 1 ? QByteArray(argv[1]).toLongLong() : 16) * MiB;
    const QByteArray bytes = payload(size);

    std::vector<double> copyMs, pasteMs;
    bool pastedExactly = true;
    ByteLineEdit pane;
    pane.resize(600, 24);
    pane.show();
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer t;
        t.start();
        BinaryTextBox::PutBytesOnClipboard(pane.hWnd(), bytes);
        copyMs.push_back(t.nsecsElapsed() / 1e6);

        pane.setText("<>");
        BinaryTextBox::AttachPane(&pane);
        pane.setSelStart(1);
        app.processEvents();
        t.start();
        pressCtrlV(&pane);
        pasteMs.push_back(t.nsecsElapsed() / 1e6);
        app.processEvents(); // the repaint that follows

        const QByteArray stored = BinaryTextBox::GetPaneBytes(pane.hWnd());
        pastedExactly = pastedExactly && stored == "<" + bytes + ">" && pane.Text() == DisplayText(stored);
        if (run + 1 < kRuns)
            BinaryTextBox::DetachPane(&pane);
    }

    // Send: the whole store of the pane through a virtual null-modem cable.
    QString sendNote;
    double sendMs = -1;
    qsizetype delivered = -1;
    bool inOrder = false;
    if (!SocatPair::available()) {
        sendNote = "socat not installed";
    } else {
        SocatPair pair;
        if (!pair.start()) {
            sendNote = pair.errorString();
        } else {
            ComPortMap map;
            map.setEntries({{7, pair.pathA()}});
            RealSerialPortControl control(&map);
            RawTty far(pair.pathB());
            control.PortNumber(7);
            control.ModeSettings(QStringLiteral("115200,N,8,1"));
            control.IsOpen(true);
            if (!control.IsOpen() || !far.isOpen()) {
                sendNote = control.LastError() + far.errorString();
            } else {
                const QByteArray out = BinaryTextBox::GetPaneBytes(pane.hWnd());
                QElapsedTimer t;
                t.start();
                control.WriteOutput(out);
                const QByteArray received = far.readExactly(out.size(), 120000);
                sendMs = t.nsecsElapsed() / 1e6;
                delivered = received.size();
                inOrder = received == out;
                control.IsOpen(false);
            }
        }
    }
    BinaryTextBox::DetachPane(&pane);

    const double paste = median(pasteMs);
    std::printf("Paste of a %lld MiB private block into an output pane (median of %d runs)\n\n",
                static_cast<long long>(size / MiB), kRuns);
    std::printf("| step                         | bytes      | time (ms) | goal     | result |\n");
    std::printf("|------------------------------|------------|-----------|----------|--------|\n");
    std::printf("| copy to clipboard            | %10lld | %9.1f |          |        |\n", static_cast<long long>(size),
                median(copyMs));
    std::printf("| Ctrl+V into pane (store+text)| %10lld | %9.1f | < 500 ms | %-6s |\n", static_cast<long long>(size),
                paste, paste < 500 ? "ok" : "SLOW");
    std::printf("| pasted bytes exact           | %10lld |           | all      | %-6s |\n",
                static_cast<long long>(size), pastedExactly ? "ok" : "WRONG");
    if (sendMs >= 0) {
        std::printf("| send through socat pty pair  | %10lld | %9.1f |          |        |\n",
                    static_cast<long long>(delivered), sendMs);
        std::printf("| delivered, in order          | %10lld |           | all      | %-6s |\n",
                    static_cast<long long>(delivered), inOrder && delivered == size + 2 ? "ok" : "WRONG");
    } else {
        std::printf("| send through socat pty pair  | not run: %s\n", qPrintable(sendNote));
    }
    return pastedExactly && (sendMs < 0 || inOrder) ? 0 : 1;
}
