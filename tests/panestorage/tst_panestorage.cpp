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
    QTRY_VERIFY((announcedBytes = [&] {
                    qint64 sum = 0;
                    for (const QList<QVariant> &a : announced)
                        sum += a.at(0).toLongLong();
                    return sum;
                }()) == lost);

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

QTEST_MAIN(tst_PaneStorage)
#include "tst_panestorage.moc"
