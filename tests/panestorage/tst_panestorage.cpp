#include "binarytextbox.h"
#include "bytelineedit.h"
#include "bytetext.h"
#include "clipboardblock.h"
#include "fakeserialportcontrol.h"
#include "panestorage.h"
#include "sessioncontroller.h"
#include "terminalfixture.h"
#include "testbytes.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

// The window's input pane with its older bytes on disk: memory stays within
// the bound, the pane behaves as before on the bytes in the file, and what a
// full disk cannot take is counted, shown and marked in the session record.
class tst_PaneStorage : public QObject
{
    Q_OBJECT

private slots:
    void init() { QApplication::clipboard()->clear(); }
    void spilledPaneBehavesAsBefore();
    void fullDiskIsShownCountedAndMarked();
    void countCaretAndSelectionPastTwoGiB();
};

namespace {

constexpr qsizetype Limit = 4 * ByteStore::DefaultChunkBytes;

// Received in pieces of uneven size, as a port delivers them.
void receive(FakeTerminal &t, const QByteArray &bytes)
{
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype n = qMin<qsizetype>(bytes.size() - at, 5000 + at % 70000);
        t.comm->deliver(bytes.mid(at, n));
        at += n;
    }
}

QByteArray clipboardBlockBytes()
{
    const QMimeData *data = QApplication::clipboard()->mimeData();
    if (!data)
        return {};
    return ClipboardBlock::ParseClipboardBlock(data->data(QString::fromLatin1(ClipboardBlock::FormatName)));
}

} // namespace

void tst_PaneStorage::spilledPaneBehavesAsBefore()
{
    FakeTerminal t;
    t.form->Form_Load();
    t.form->paneStorage()->setMemoryLimit(Limit);
    ByteLineEdit *pane = t.form->Text1;
    pane->resize(300, pane->height());
    const QByteArray sent = randomBytes(8 << 20, 13);
    receive(t, sent);

    const ByteStore &store = pane->bytes();
    QCOMPARE(t.input(), sent);
    QVERIFY(store.memoryBytes() <= Limit + ByteStore::DefaultChunkBytes);
    QVERIFY(store.spilledBytes() >= sent.size() - Limit - ByteStore::DefaultChunkBytes);
    QCOMPARE(store.lostBytes(), 0);
    QCOMPARE(t.form->paneStorage()->problem(), QString());
    QTRY_COMPARE(t.form->Text3->text(), QString::number(sent.size()));
    QCOMPARE(pane->cursorPosition(), sent.size());

    // Selecting and copying bytes that are only in the file.
    pane->setSelStart(1000);
    pane->setSelLength(300000);
    QCOMPARE(pane->SelText(), sent.mid(1000, 300000));
    QTest::keyClick(pane, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(clipboardBlockBytes(), sent.mid(1000, 300000));

    // The view goes back to the start and draws it from the file; words
    // are found there.
    QTest::keyClick(pane, Qt::Key_Home);
    QCOMPARE(pane->firstVisibleCell(), 0);
    QCOMPARE(pane->visibleText(), DisplayText(sent.first(pane->visibleText().size())));
    QTest::keyClick(pane, Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(pane->SelLength() > 0);
    QCOMPARE(pane->SelText(), sent.first(pane->SelLength()));

    // The context menu's Select All and Copy take the whole pane, file and
    // memory alike.
    ModalWatcher menus([](QWidget *w) {
        if (auto *menu = qobject_cast<QMenu *>(w)) {
            for (QAction *a : menu->actions()) {
                if (a->text() == QStringLiteral("&Copy")) {
                    menu->setActiveAction(a);
                    QTest::keyClick(menu, Qt::Key_Return);
                    return;
                }
            }
            menu->close();
        }
    });
    pane->selectAll();
    QTest::keyClick(pane, Qt::Key_F10, Qt::ShiftModifier);
    QCOMPARE(menus.seen.size(), 1);
    QCOMPARE(clipboardBlockBytes(), sent);

    // Clearing the pane gives the file's space back and starts afresh.
    t.form->Command1_Click();
    QCOMPARE(store.size(), 0);
    QCOMPARE(store.spilledBytes(), 0);
    receive(t, sent.first(1000));
    QCOMPARE(t.input(), sent.first(1000));
    QTRY_COMPARE(t.form->Text3->text(), QStringLiteral("1000"));
}

void tst_PaneStorage::fullDiskIsShownCountedAndMarked()
{
    FakeTerminal t;
    t.form->Form_Load();
    PaneStorage *storage = t.form->paneStorage();
    storage->setMemoryLimit(Limit);
    SessionRecord *record = t.form->findChild<SessionController *>()->record();
    QSignalSpy announced(storage, &PaneStorage::bytesNotKept);
    auto *line = t.form->findChild<QLabel *>(QStringLiteral("paneStorageProblem"));
    QVERIFY(line);
    QVERIFY(!line->isVisibleTo(t.form.get()));

    // The disk "fills": the file takes nothing more.
    storage->file().setReserve(std::numeric_limits<qint64>::max() / 2);
    const QByteArray sent = randomBytes(2 << 20, 17);
    receive(t, sent);
    const qint64 lost = storage->lostBytes();
    QVERIFY(lost > 0);
    const QByteArray kept = t.input();
    QCOMPARE(kept.size() + lost, sent.size());
    QCOMPARE(kept, sent.first(kept.size()));
    QVERIFY(t.form->Text1->bytes().memoryBytes() <= Limit + Limit / 8 + ByteStore::DefaultChunkBytes);
    QVERIFY(line->isVisibleTo(t.form.get()));
    QVERIFY2(line->text().contains(QStringLiteral("%1 bytes not kept").arg(lost)), qPrintable(line->text()));
    QVERIFY(line->text().contains(QStringLiteral("disk")));
    QTRY_COMPARE(t.form->Text3->text(), QString::number(kept.size()));

    // Room again: everything that comes is kept, and every lost byte has
    // been announced once.
    storage->file().setReserve(0);
    const QByteArray more = randomBytes(1 << 20, 19);
    receive(t, more);
    QCOMPARE(storage->lostBytes(), lost);
    QCOMPARE(t.input(), kept + more);
    QVERIFY(line->text().contains(QStringLiteral("%1 received bytes were not kept").arg(lost)));
    qint64 announcedBytes = 0;
    QTRY_VERIFY((announcedBytes =
                     [&] {
                         qint64 sum = 0;
                         for (const QList<QVariant> &a : announced)
                             sum += a.at(0).toLongLong();
                         return sum;
                     }())
                == lost);

    // The record marks them where they went missing.
    record->flush();
    qint64 marked = 0;
    for (qint64 i = 0; i < record->eventCount(); ++i) {
        if (record->event(i).kind != RecordEvent::NotKept)
            continue;
        const QString words = record->describe(i);
        QVERIFY2(words.startsWith(QStringLiteral("Not kept in the input pane (")), qPrintable(words));
        marked += words.section(QLatin1Char(' '), -3, -3).toLongLong();
    }
    QCOMPARE(marked, lost);
}

void tst_PaneStorage::countCaretAndSelectionPastTwoGiB()
{
    FakeTerminal t;
    t.form->Form_Load();
    PaneStorage *storage = t.form->paneStorage();
    // The pane holds more than 2^31 bytes with 16 MiB of them in memory.
    storage->file().setReserve(0);
    if (storage->file().freeSpace() >= 0 && storage->file().freeSpace() < (qint64(3) << 30))
        QSKIP("needs 3 GiB free on the disk of the cache folder");
    storage->setMemoryLimit(16 << 20);
    ByteLineEdit *pane = t.form->Text1;
    const qsizetype past = (qsizetype(1) << 31) + (3 << 20);
    const QByteArray block = randomBytes(1 << 20, 23);
    while (pane->textLength() + block.size() <= past)
        t.comm->deliver(block);
    t.comm->deliver(QByteArray("last word", 9));
    const qsizetype length = pane->textLength();
    QVERIFY(length > (qsizetype(1) << 31));
    QCOMPARE(storage->lostBytes(), 0);
    QVERIFY(pane->bytes().memoryBytes() <= (16 << 20) + ByteStore::DefaultChunkBytes);

    // The count, the caret and the view follow the end.
    QTRY_COMPARE(t.form->Text3->text(), QString::number(length));
    QCOMPARE(pane->cursorPosition(), length);
    QVERIFY(pane->visibleText().endsWith("last word"));
    QVERIFY(pane->firstVisibleCell() > (qsizetype(1) << 31));

    // Selecting by keys and by position, both sides of 2^31.
    QTest::keyClick(pane, Qt::Key_Left, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(pane->SelText(), QByteArray("word"));
    QCOMPARE(pane->SelStart(), length - 4);
    const qsizetype across = (qsizetype(1) << 31) - 10;
    pane->setSelStart(across);
    pane->setSelLength(20);
    QCOMPARE(pane->SelStart(), across);
    // The last 10 bytes of one block and the first 10 of the next.
    QCOMPARE(pane->SelText(), block.last(10) + block.first(10));
    QTest::keyClick(pane, Qt::Key_End, Qt::ShiftModifier);
    QCOMPARE(pane->SelLength(), length - across);
    QTest::keyClick(pane, Qt::Key_Home);
    QCOMPARE(pane->cursorPosition(), 0);
    QCOMPARE(pane->SelText(), QByteArray());
    QCOMPARE(pane->visibleText(), DisplayText(block.first(pane->visibleText().size())));

    // Clearing gives the disk back.
    t.form->Command1_Click();
    QCOMPARE(pane->bytes().spilledBytes(), 0);
    QCOMPARE(t.form->Text3->text(), QStringLiteral("0"));
}

QTEST_MAIN(tst_PaneStorage)
#include "tst_panestorage.moc"
