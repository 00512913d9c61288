#include "asciichart.h"
#include "binarytextbox.h"
#include "bytelineedit.h"
#include "bytetext.h"
#include "paneclipboard.h"
#include "panemenu.h"

#include <QApplication>
#include <QClipboard>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace BinaryTextBox;

namespace {

// Calls `act` with the first widget of type T that becomes the active popup or
// modal window, polling the running event loop; gives up after a few seconds
// by closing whatever is open, so a failure never hangs the test.
template<typename T>
void whenOpen(std::function<void(T *)> act)
{
    auto *timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, tries, act] {
        QWidget *w = QApplication::activePopupWidget();
        if (!qobject_cast<T *>(w))
            w = QApplication::activeModalWidget();
        if (T *found = qobject_cast<T *>(w)) {
            timer->stop();
            timer->deleteLater();
            act(found);
        } else if (++*tries > 500) {
            timer->stop();
            timer->deleteLater();
            if (QWidget *popup = QApplication::activePopupWidget())
                popup->close();
        }
    });
    timer->start(10);
}

QAction *actionNamed(QMenu *menu, const QString &text)
{
    for (QAction *a : menu->actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

void choose(QMenu *menu, const QString &text)
{
    QAction *a = actionNamed(menu, text);
    if (!a) {
        menu->close();
        return;
    }
    menu->setActiveAction(a);
    QTest::keyClick(menu, Qt::Key_Return);
}

} // namespace

// The pane's context menu: which entries it offers, and what they do to the
// pane's bytes and text together.
class tst_PaneMenu : public QObject
{
    Q_OBJECT

private slots:
    void init() { QApplication::clipboard()->clear(); }
    void enabling_data();
    void enabling();
    void menuShowsEntriesAsComputed_data();
    void menuShowsEntriesAsComputed();
    void commands_data();
    void commands();
    void dismissChangesNothing();
    void asciiChartInserts_data();
    void asciiChartInserts();
    void bytesReceivedWhileOpenAreKept();
    void opensOnContextMenuAndShiftF10();
};

void tst_PaneMenu::enabling_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<int>("selLength");
    QTest::addColumn<bool>("clipboardText");
    QTest::addColumn<int>("textLength");
    QTest::addColumn<QString>("enabled"); // letters: t cut, c copy, p paste, d delete, a select all, h chart

    QTest::newRow("read-only with selection, text on clipboard") << true << 2 << true << 4 << "cah";
    QTest::newRow("read-only empty") << true << 0 << true << 0 << "h";
    QTest::newRow("editable empty, text on clipboard") << false << 0 << true << 0 << "ph";
    QTest::newRow("editable empty, nothing on clipboard") << false << 0 << false << 0 << "h";
    QTest::newRow("editable with selection") << false << 1 << false << 3 << "tcdah";
    QTest::newRow("editable all") << false << 3 << true << 3 << "tcpdah";
    QTest::newRow("editable text, no selection") << false << 0 << false << 3 << "ah";
}

static PaneMenuEnabling fromLetters(const QString &letters)
{
    PaneMenuEnabling e;
    e.cut = letters.contains('t');
    e.copy = letters.contains('c');
    e.paste = letters.contains('p');
    e.del = letters.contains('d');
    e.selectAll = letters.contains('a');
    e.asciiChart = letters.contains('h');
    return e;
}

void tst_PaneMenu::enabling()
{
    QFETCH(bool, readOnly);
    QFETCH(int, selLength);
    QFETCH(bool, clipboardText);
    QFETCH(int, textLength);
    QFETCH(QString, enabled);
    QVERIFY(PaneMenuEnablingFor(readOnly, selLength, clipboardText, textLength) == fromLetters(enabled));
}

void tst_PaneMenu::menuShowsEntriesAsComputed_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("privateOnly");
    QTest::addColumn<QString>("enabled");
    QTest::newRow("read-only pane with selection") << true << false << "cah";
    QTest::newRow("editable pane with selection") << false << false << "tcpdah";
    QTest::newRow("editable pane, private block alone") << false << true << "tcdah";
}

void tst_PaneMenu::menuShowsEntriesAsComputed()
{
    QFETCH(bool, readOnly);
    QFETCH(bool, privateOnly);
    QFETCH(QString, enabled);

    // The private block alone does not enable Paste; plain text does.
    if (privateOnly) {
        auto *data = new QMimeData;
        data->setData(QStringLiteral("NerovaBString"), "2,zz");
        QApplication::clipboard()->setMimeData(data);
    } else {
        PutBytesOnClipboard(0, "zz");
    }
    ByteLineEdit box;
    box.setText("abcd");
    box.setLocked(readOnly);
    AttachPane(&box);
    box.setSelStart(1);
    box.setSelLength(2);

    QStringList texts;
    QString states;
    whenOpen<QMenu>([&](QMenu *menu) {
        for (QAction *a : menu->actions()) {
            texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
            states += a->isSeparator() ? '-' : (a->isEnabled() ? '1' : '0');
        }
        QTest::keyClick(menu, Qt::Key_Escape);
    });
    QCOMPARE(ShowPaneMenu(&box), 0);
    QCOMPARE(texts, QStringList({"Cu&t", "&Copy", "&Paste", "&Delete", "-", "Select &All", "-", "ASCII Chart..."}));
    const PaneMenuEnabling e = fromLetters(enabled);
    const QString expected = QString("%1%2%3%4-%5-%6")
                                 .arg(int(e.cut))
                                 .arg(int(e.copy))
                                 .arg(int(e.paste))
                                 .arg(int(e.del))
                                 .arg(int(e.selectAll))
                                 .arg(int(e.asciiChart));
    QCOMPARE(states, expected);
    DetachPane(&box);
}

void tst_PaneMenu::commands_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("id");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("clipboard"); // what is on it before
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QByteArray>("clipboardAfter");

    const QByteArray abcd("a\0cd", 4);
    QTest::newRow("Delete") << "&Delete" << 4 << abcd << QByteArray("k") << QByteArray("ad") << QByteArray("k");
    QTest::newRow("Cut") << "Cu&t" << 1 << abcd << QByteArray("k") << QByteArray("ad") << QByteArray("\0c", 2);
    QTest::newRow("Copy") << "&Copy" << 2 << abcd << QByteArray("k") << abcd << QByteArray("\0c", 2);
    QTest::newRow("Paste with NULs") << "&Paste" << 3 << abcd << QByteArray("\x01\0", 2) << QByteArray("a\x01\0d", 4)
                                     << QByteArray("\x01\0", 2);
}

void tst_PaneMenu::commands()
{
    QFETCH(QString, entry);
    QFETCH(int, id);
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, clipboard);
    QFETCH(QByteArray, expected);
    QFETCH(QByteArray, clipboardAfter);

    PutBytesOnClipboard(0, clipboard);
    ByteLineEdit box;
    box.setText(DisplayText(bytes));
    AttachPane(&box);
    SetPaneBytes(box.hWnd(), bytes);
    box.setSelStart(1);
    box.setSelLength(2);

    whenOpen<QMenu>([&](QMenu *menu) { choose(menu, entry); });
    QCOMPARE(ShowPaneMenu(&box), id);
    QCOMPARE(GetPaneBytes(box.hWnd()), expected);
    QCOMPARE(box.Text(), DisplayText(expected));
    QCOMPARE(GetBytesFromClipboard(0), clipboardAfter);
    DetachPane(&box);
}

void tst_PaneMenu::dismissChangesNothing()
{
    ByteLineEdit box;
    box.setText("abcd");
    AttachPane(&box);
    box.setSelStart(1);
    box.setSelLength(2);
    whenOpen<QMenu>([](QMenu *menu) { QTest::keyClick(menu, Qt::Key_Escape); });
    QCOMPARE(ShowPaneMenu(&box), 0);
    QCOMPARE(GetPaneBytes(box.hWnd()), QByteArray("abcd"));
    QCOMPARE(box.SelLength(), 2);

    // Select All selects the whole text, which is the whole store.
    box.setSelStart(2);
    whenOpen<QMenu>([](QMenu *menu) { choose(menu, "Select &All"); });
    QCOMPARE(ShowPaneMenu(&box), 6);
    QCOMPARE(box.SelStart(), 0);
    QCOMPARE(box.SelLength(), 4);
    DetachPane(&box);
}

void tst_PaneMenu::asciiChartInserts_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("NUL at the end") << false << 0 << true << QByteArray("ab\0", 3);
    QTest::newRow("FF at the end") << false << 255 << true << QByteArray("ab\xFF");
    QTest::newRow("Cancel inserts nothing") << false << 65 << false << QByteArray("ab");
    QTest::newRow("read-only pane never") << true << 65 << true << QByteArray("ab");
}

void tst_PaneMenu::asciiChartInserts()
{
    QFETCH(bool, readOnly);
    QFETCH(int, row);
    QFETCH(bool, ok);
    QFETCH(QByteArray, expected);

    ByteLineEdit box;
    box.setText("ab");
    box.setLocked(readOnly);
    AttachPane(&box);
    box.setSelStart(2);
    whenOpen<QMenu>([&](QMenu *menu) {
        whenOpen<AsciiChart>([&](AsciiChart *chart) {
            chart->AsciiMenu->setCurrentRow(row);
            (ok ? chart->AsciiOkButton : chart->AsciiCancelButton)->click();
        });
        choose(menu, "ASCII Chart...");
    });
    QCOMPARE(ShowPaneMenu(&box), 8);
    QCOMPARE(GetPaneBytes(box.hWnd()), expected);
    QCOMPARE(box.Text(), DisplayText(expected));
    QCOMPARE(AsciiChoice, ok ? QByteArray(1, char(row)) : QByteArray());
    DetachPane(&box);
}

void tst_PaneMenu::bytesReceivedWhileOpenAreKept()
{
    ByteLineEdit box;
    box.setText("abcd");
    AttachPane(&box);
    const int h = box.hWnd();
    box.setSelStart(1);
    box.setSelLength(2);
    whenOpen<QMenu>([&](QMenu *menu) {
        // Bytes arrive while the menu is open.
        AppendPaneBytes(h, QByteArray("\0Y", 2));
        choose(menu, "&Delete");
    });
    QCOMPARE(ShowPaneMenu(&box), 4);
    QCOMPARE(GetPaneBytes(h), QByteArray("ad\0Y", 4));
    QCOMPARE(box.Text(), QByteArray("ad Y"));

    // And while the chart is open.
    box.setSelStart(1);
    whenOpen<QMenu>([&](QMenu *menu) {
        whenOpen<AsciiChart>([&](AsciiChart *chart) {
            AppendPaneBytes(h, "Z");
            chart->AsciiMenu->setCurrentRow(1);
            chart->AsciiOkButton->click();
        });
        choose(menu, "ASCII Chart...");
    });
    QCOMPARE(ShowPaneMenu(&box), 8);
    QCOMPARE(GetPaneBytes(h), QByteArray("a\x01"
                                         "d\0YZ",
                                         6));
    QCOMPARE(box.Text(), QByteArray("a\x01"
                                    "d YZ"));
    DetachPane(&box);
}

void tst_PaneMenu::opensOnContextMenuAndShiftF10()
{
    ByteLineEdit box;
    box.setText("abcd");
    AttachPane(&box);
    box.setSelStart(0);
    box.setSelLength(1);

    int opened = 0;
    auto dismissOnOpen = [&] {
        whenOpen<QMenu>([&](QMenu *menu) {
            ++opened;
            choose(menu, "&Delete");
        });
    };
    dismissOnOpen();
    QTest::keyClick(&box, Qt::Key_F10, Qt::ShiftModifier);
    QCOMPARE(opened, 1);
    QCOMPARE(GetPaneBytes(box.hWnd()), QByteArray("bcd"));

    box.setSelStart(0);
    box.setSelLength(1);
    dismissOnOpen();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(2, 2), box.mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(&box, &event);
    QCOMPARE(opened, 2);
    QCOMPARE(GetPaneBytes(box.hWnd()), QByteArray("cd"));
    QCOMPARE(box.Text(), QByteArray("cd"));
    DetachPane(&box);
}

QTEST_MAIN(tst_PaneMenu)
#include "tst_panemenu.moc"
