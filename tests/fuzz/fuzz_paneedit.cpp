// Fuzzes a pane's editing: two byte edit boxes attached as panes get the same
// random sequence of key presses (any key, modifiers and key text), typed
// input method text, clipboard contents (plain text and the private block,
// alone or together), selection changes, read-only switches and bytes set or
// appended by the program, as received data is. One box keeps its bytes in
// tiny chunks (a few bytes each, from the input) with room in memory for only
// a few of them, the rest in a spill file, so every edit crosses chunk
// boundaries and reads or rewrites bytes held on disk; the other keeps
// everything in memory in the usual large chunks. After every step both must
// hold the same bytes with the same selection and view, the chunked store's
// bookkeeping must be consistent, and the pane's bytes, its visible text and
// the cells it draws must agree; a difference aborts.
//
// Keys that open the pane's context menu (Shift+F10, the Menu key) are left
// out: the menu is modal and would wait for a user.
#include "binarytextbox.h"
#include "bytelineedit.h"
#include "bytetext.h"
#include "clipboardblock.h"
#include "panewindowproc.h"
#include "spillfile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace BinaryTextBox;

namespace {

// Never destroyed: at exit the toolkit's own globals may already be gone.
QApplication *app = nullptr;
// The spill file the small-chunk box keeps its older chunks in.
SpillFile *spill = nullptr;
// PORTLARK_FUZZ_TRACE=1 prints every step, to follow a crashing input.
bool trace = false;

QByteArray shown(const QByteArray &bytes)
{
    return bytes.toPercentEncoding(" ,.:;!?()[]{}<>'\"=+-*/_#@$^&|~");
}

// Keys the pane and the box act on, and a few they do not.
constexpr int Keys[] = {
    Qt::Key_Backspace, Qt::Key_Delete,     Qt::Key_Return,  Qt::Key_Enter,  Qt::Key_Insert,  Qt::Key_Left,
    Qt::Key_Right,     Qt::Key_Up,         Qt::Key_Down,    Qt::Key_Home,   Qt::Key_End,     Qt::Key_PageUp,
    Qt::Key_PageDown,  Qt::Key_Tab,        Qt::Key_Backtab, Qt::Key_Escape, Qt::Key_A,       Qt::Key_C,
    Qt::Key_V,         Qt::Key_X,          Qt::Key_Z,       Qt::Key_Y,      Qt::Key_0,       Qt::Key_1,
    Qt::Key_Space,     Qt::Key_F10,        Qt::Key_F1,      Qt::Key_Shift,  Qt::Key_Control, Qt::Key_Alt,
    Qt::Key_Meta,      Qt::Key_Copy,       Qt::Key_Paste,   Qt::Key_Cut,    Qt::Key_Clear,   Qt::Key_unknown,
    Qt::Key_Eacute,    Qt::Key_ydiaeresis,
};

constexpr Qt::KeyboardModifier Modifiers[] = {
    Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier,
    Qt::MetaModifier,  Qt::KeypadModifier,  Qt::GroupSwitchModifier,
};

bool opensMenu(int key, Qt::KeyboardModifiers modifiers)
{
    const qint16 vk = VirtualKeyOf(key);
    return key == Qt::Key_Menu || vk == 0x5D || (vk == VK_F10 && (modifiers & Qt::ShiftModifier));
}

QString randomText(FuzzedDataProvider &in)
{
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
        return QString();
    case 1:
        return QString(QChar(in.ConsumeIntegral<quint8>()));
    case 2:
        return QString(QChar(in.ConsumeIntegral<char16_t>()));
    default: {
        const std::string s = in.ConsumeRandomLengthString(8);
        return QString::fromUtf8(s.data(), qsizetype(s.size()));
    }
    }
}

QByteArray randomBytes(FuzzedDataProvider &in, size_t most)
{
    const std::string s = in.ConsumeRandomLengthString(most);
    return QByteArray(s.data(), qsizetype(s.size()));
}

void sendKey(ByteLineEdit *box, ByteLineEdit *twin, FuzzedDataProvider &in)
{
    int key = in.ConsumeBool() ? in.PickValueInArray(Keys) : in.ConsumeIntegral<int>();
    Qt::KeyboardModifiers modifiers;
    const quint8 bits = in.ConsumeIntegral<quint8>();
    for (size_t i = 0; i < std::size(Modifiers); ++i)
        if (bits & (1u << i))
            modifiers |= Modifiers[i];
    QString text = randomText(in);
    // As the window system delivers keys: a function or navigation key
    // carries no text, apart from the control codes of the editing keys.
    if (key >= Qt::Key_Escape && key <= 0x01ffffff) {
        switch (key) {
        case Qt::Key_Backspace:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Tab:
        case Qt::Key_Escape:
        case Qt::Key_Delete:
            if (text.isEmpty())
                break;
            text = QString(QChar(key == Qt::Key_Backspace ? 0x08
                                 : key == Qt::Key_Tab     ? 0x09
                                 : key == Qt::Key_Escape  ? 0x1b
                                 : key == Qt::Key_Delete  ? 0x7f
                                                          : 0x0d));
            break;
        default:
            text.clear();
        }
    }
    if (opensMenu(key, modifiers))
        return;
    if (trace)
        std::fprintf(stderr, "key 0x%x modifiers 0x%x text \"%s\"\n", unsigned(key), unsigned(modifiers.toInt()),
                     shown(text.toUtf8()).constData());
    // As the toolkit delivers a key: the shortcut check first, then the
    // press itself when no shortcut took it, then the release.
    for (ByteLineEdit *target : {box, twin}) {
        QKeyEvent override(QEvent::ShortcutOverride, key, modifiers, text);
        QCoreApplication::sendEvent(target, &override);
        QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
        QCoreApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
        QCoreApplication::sendEvent(target, &release);
    }
}

void setClipboard(FuzzedDataProvider &in)
{
    QClipboard *clipboard = QApplication::clipboard();
    const int what = in.ConsumeIntegralInRange(0, 4);
    if (what == 0) {
        clipboard->clear();
        return;
    }
    auto *data = new QMimeData;
    const QByteArray bytes = randomBytes(in, 64);
    if (what & 1)
        data->setText(in.ConsumeBool() ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes));
    if (what & 2) {
        // A well-formed block of the bytes, or the bytes as a block of any form.
        data->setData(QString::fromLatin1(ClipboardBlock::FormatName),
                      in.ConsumeBool() ? ClipboardBlock::EncodeClipboardBlock(bytes) : bytes);
    }
    if (what == 4)
        data->setData(QStringLiteral("application/octet-stream"), bytes);
    if (trace)
        std::fprintf(stderr, "clipboard%s%s: \"%s\" (%s)\n", data->hasText() ? " text" : "",
                     data->hasFormat(QString::fromLatin1(ClipboardBlock::FormatName)) ? " block" : "",
                     shown(data->text().toUtf8()).constData(),
                     shown(data->data(QString::fromLatin1(ClipboardBlock::FormatName))).constData());
    clipboard->setMimeData(data);
}

[[noreturn]] void fail(int step, const char *what, const QByteArray &a, const QByteArray &b)
{
    std::fprintf(stderr, "fuzz_paneedit: step %d: %s: \"%s\" against \"%s\"\n", step, what, shown(a).constData(),
                 shown(b).constData());
    std::abort();
}

void checkInStep(ByteLineEdit *box, ByteLineEdit *twin, int step)
{
    const QByteArray bytes = GetPaneBytes(box->hWnd());
    const QByteArray twinBytes = GetPaneBytes(twin->hWnd());
    if (bytes != twinBytes)
        fail(step, "small chunks and large chunks differ", bytes, twinBytes);
    if (box->SelStart() != twin->SelStart() || box->SelLength() != twin->SelLength()
        || box->cursorPosition() != twin->cursorPosition() || box->firstVisibleCell() != twin->firstVisibleCell()) {
        std::fprintf(stderr,
                     "fuzz_paneedit: step %d: selection %lld+%lld caret %lld view %lld, twin %lld+%lld %lld %lld\n",
                     step, qlonglong(box->SelStart()), qlonglong(box->SelLength()), qlonglong(box->cursorPosition()),
                     qlonglong(box->firstVisibleCell()), qlonglong(twin->SelStart()), qlonglong(twin->SelLength()),
                     qlonglong(twin->cursorPosition()), qlonglong(twin->firstVisibleCell()));
        std::abort();
    }
    if (box->bytes().lostBytes() != 0) {
        std::fprintf(stderr, "fuzz_paneedit: step %d: the spilled store lost bytes: %s\n", step,
                     qPrintable(box->bytes().spillError()));
        std::abort();
    }
    if (!box->bytes().isConsistent() || !twin->bytes().isConsistent()) {
        std::fprintf(stderr, "fuzz_paneedit: step %d: chunk bookkeeping broken\n", step);
        std::abort();
    }
    const QByteArray drawn = DisplayText(bytes.mid(box->firstVisibleCell(), box->visibleText().size()));
    if (drawn != box->visibleText())
        fail(step, "cells drawn differ from the bytes in view", box->visibleText(), drawn);
    if (DisplayText(bytes) != box->Text()) {
        std::fprintf(stderr, "fuzz_paneedit: step %d: pane bytes \"%s\" but the box shows \"%s\"\n", step,
                     shown(bytes).constData(), shown(box->Text()).constData());
        std::abort();
    }
    if (box->SelStart() < 0 || box->SelLength() < 0 || box->SelStart() + box->SelLength() > box->Text().size()) {
        std::fprintf(stderr, "fuzz_paneedit: step %d: selection %lld+%lld outside %lld bytes\n", step,
                     qlonglong(box->SelStart()), qlonglong(box->SelLength()), qlonglong(box->Text().size()));
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_ACCESSIBILITY", "0");
    trace = qEnvironmentVariableIntValue("PORTLARK_FUZZ_TRACE") != 0;
    app = new QApplication(*argc, *argv);
    // The file is unlinked once open, so the folder can go at once.
    {
        QTemporaryDir dir;
        spill = new SpillFile;
        if (!dir.isValid() || !spill->open(dir.path())) {
            std::fprintf(stderr, "fuzz_paneedit: no spill file: %s\n", qPrintable(spill->errorString()));
            std::abort();
        }
        spill->setReserve(0);
    }
    // Font and style caches are filled once, on first use, and kept for the
    // program's life; fill them here so the leak check of the first input
    // does not take them for the input's leaks.
    ByteLineEdit warmUp;
    warmUp.resize(160, 24);
    warmUp.setText(QByteArray("warm up"));
    warmUp.grab();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    QApplication::clipboard()->clear();

    auto box = std::make_unique<ByteLineEdit>();
    auto twin = std::make_unique<ByteLineEdit>();
    box->store().setChunkBytes(in.ConsumeIntegralInRange<qsizetype>(2, 9));
    box->store().setSpill(spill, 0);
    for (ByteLineEdit *b : {box.get(), twin.get()})
        b->resize(160, 24);
    const QByteArray initial = randomBytes(in, 32);
    box->setText(initial);
    twin->setText(initial);
    AttachPane(box.get());
    AttachPane(twin.get());
    checkInStep(box.get(), twin.get(), 0);

    for (int step = 1; step <= 64 && in.remaining_bytes() > 0; ++step) {
        switch (in.ConsumeIntegralInRange(0, 9)) {
        case 0:
        case 1:
        case 2:
        case 3:
            sendKey(box.get(), twin.get(), in);
            break;
        case 4:
            setClipboard(in);
            break;
        case 5: {
            const qsizetype start = in.ConsumeIntegralInRange<qsizetype>(-2, box->textLength() + 2);
            const bool withLength = in.ConsumeBool();
            const qsizetype length = withLength ? in.ConsumeIntegralInRange<qsizetype>(-2, box->textLength() + 2) : 0;
            for (ByteLineEdit *b : {box.get(), twin.get()}) {
                b->setSelStart(start);
                if (withLength)
                    b->setSelLength(length);
            }
            if (trace)
                std::fprintf(stderr, "select %lld+%lld\n", qlonglong(start), qlonglong(length));
            break;
        }
        case 6:
            if (in.ConsumeBool()) {
                box->selectAll();
                twin->selectAll();
                if (trace)
                    std::fprintf(stderr, "select all\n");
            } else {
                const bool locked = in.ConsumeBool();
                box->setLocked(locked);
                twin->setLocked(locked);
                if (trace)
                    std::fprintf(stderr, "locked %d\n", int(box->Locked()));
            }
            break;
        case 7: {
            const QString commit = randomText(in);
            if (trace)
                std::fprintf(stderr, "input method \"%s\"\n", shown(commit.toUtf8()).constData());
            for (ByteLineEdit *b : {box.get(), twin.get()}) {
                QInputMethodEvent event;
                event.setCommitString(commit);
                QCoreApplication::sendEvent(b, &event);
            }
            break;
        }
        case 8: {
            const QByteArray bytes = randomBytes(in, 32);
            const bool set = in.ConsumeBool();
            if (trace)
                std::fprintf(stderr, "%s \"%s\"\n", set ? "set" : "append", shown(bytes).constData());
            for (ByteLineEdit *b : {box.get(), twin.get()}) {
                if (set)
                    SetPaneBytes(b->hWnd(), bytes);
                else
                    AppendPaneBytes(b->hWnd(), bytes);
            }
            break;
        }
        default:
            if (trace)
                std::fprintf(stderr, "process events\n");
            QCoreApplication::processEvents();
            break;
        }
        checkInStep(box.get(), twin.get(), step);
        if (trace)
            std::fprintf(stderr, "  step %d: \"%s\" selection %lld+%lld%s\n", step, shown(box->Text()).constData(),
                         qlonglong(box->SelStart()), qlonglong(box->SelLength()), box->Locked() ? " locked" : "");
    }

    DetachPane(box.get());
    DetachPane(twin.get());
    return 0;
}
