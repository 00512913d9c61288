#include "binarytextbox.h"
#include "bytelineedit.h"
#include "bytestore.h"
#include "spillfile.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

// The chunked byte store against a flat byte array, with and without a spill
// file; a full disk; the spill file's folder; and a pane holding more than
// 2^31 bytes.
class tst_ByteStore : public QObject
{
    Q_OBJECT

private slots:
    void editsMatchFlatArray_data();
    void editsMatchFlatArray();
    void fullDiskCountsWhatIsNotKept();
    void spillFileMakesItsFolderAndLeavesNothingThere();
    void paneBeyondTwoGiB();
};

void tst_ByteStore::editsMatchFlatArray_data()
{
    QTest::addColumn<int>("chunk");
    QTest::addColumn<bool>("spill");
    QTest::newRow("3-byte chunks") << 3 << false;
    QTest::newRow("64-byte chunks") << 64 << false;
    QTest::newRow("64-byte chunks, spilled") << 64 << true;
    QTest::newRow("usual chunks, spilled") << int(ByteStore::DefaultChunkBytes) << true;
}

void tst_ByteStore::editsMatchFlatArray()
{
    QFETCH(int, chunk);
    QFETCH(bool, spill);
    QTemporaryDir dir;
    SpillFile file;
    ByteStore store;
    store.setChunkBytes(chunk);
    if (spill) {
        QVERIFY(file.open(dir.path()));
        file.setReserve(0);
        // Room for a few chunks only: nearly everything goes to the file.
        store.setSpill(&file, 4 * chunk);
    }
    QByteArray flat;
    QRandomGenerator random(20261208u + quint32(chunk));
    const auto someBytes = [&](int most) {
        QByteArray b(random.bounded(most + 1), Qt::Uninitialized);
        for (char &c : b)
            c = char(random.bounded(256));
        return b;
    };

    for (int step = 0; step < 4000; ++step) {
        const qsizetype size = flat.size();
        const int what = random.bounded(10);
        if (what < 4) {
            const QByteArray b = someBytes(what == 0 ? 5 * chunk : 8);
            store.append(b);
            flat.append(b);
        } else if (what < 8) {
            // Positions and lengths past either end are clamped, as in a pane.
            const qsizetype start = random.bounded(int(size + 3)) - 1;
            const qsizetype length
                = random.bounded(8) == 0 ? std::numeric_limits<qsizetype>::max() : random.bounded(3 * chunk) - 1;
            const QByteArray b = someBytes(random.bounded(4) == 0 ? 3 * chunk : 3);
            store.replace(start, length, b);
            const qsizetype s = qBound<qsizetype>(0, start, size);
            flat.replace(s, qBound<qsizetype>(0, length, size - s), b);
        } else if (what == 8) {
            const qsizetype from = random.bounded(int(size + 1));
            const qsizetype n = random.bounded(4 * chunk);
            QCOMPARE(store.mid(from, n), flat.mid(from, n));
            if (from < size)
                QCOMPARE(store.at(from), flat.at(from));
        } else if (random.bounded(50) == 0) {
            const QByteArray b = someBytes(3 * chunk);
            store.assign(b);
            flat = b;
        }
        QCOMPARE(store.size(), flat.size());
        QVERIFY2(store.isConsistent(), qPrintable(QStringLiteral("step %1").arg(step)));
        // Edits never leave the store in crumbs: chunks stay about full.
        QVERIFY(store.chunkCount() <= 2 * (flat.size() / chunk) + 3);
        if (spill)
            QVERIFY(store.memoryBytes() <= 4 * chunk + 2 * 2 * chunk);
    }
    QCOMPARE(store.toByteArray(), flat);
    QCOMPARE(store.lostBytes(), 0);
    if (spill)
        QVERIFY(store.spilledBytes() > 0);
}

void tst_ByteStore::fullDiskCountsWhatIsNotKept()
{
    QTemporaryDir dir;
    SpillFile file;
    QVERIFY(file.open(dir.path()));
    const qsizetype chunk = 1024;
    ByteStore store;
    store.setChunkBytes(chunk);
    store.setSpill(&file, 8 * chunk);
    QByteArray sent;
    for (int i = 0; i < 64 * 1024; ++i)
        sent.append(char(i * 7));

    store.append(QByteArrayView(sent).first(16 * chunk));
    QVERIFY(!store.spillFailing());
    // The disk "fills": no write may leave less than this much free.
    file.setReserve(std::numeric_limits<qint64>::max() / 2);
    store.append(QByteArrayView(sent).sliced(16 * chunk, 32 * chunk));
    QVERIFY(store.spillFailing());
    QVERIFY(store.spillError().contains(QLatin1String("disk")));
    // Memory stays bounded; what could not be kept is counted, and what was
    // kept is the start of what was sent, in order.
    QVERIFY(store.memoryBytes() <= 8 * chunk + chunk + chunk);
    QVERIFY(store.lostBytes() > 0);
    QCOMPARE(store.size() + store.lostBytes(), 48 * chunk);
    QCOMPARE(store.toByteArray(), sent.first(store.size()));

    // Room again: the store spills and keeps everything that comes.
    file.setReserve(0);
    const qsizetype kept = store.size();
    const qint64 lost = store.lostBytes();
    store.append(QByteArrayView(sent).sliced(48 * chunk, 16 * chunk));
    QVERIFY(!store.spillFailing());
    QCOMPARE(store.lostBytes(), lost);
    QCOMPARE(store.size(), kept + 16 * chunk);
    QCOMPARE(store.mid(kept, 16 * chunk), sent.sliced(48 * chunk, 16 * chunk));
    QVERIFY(store.isConsistent());
}

// The folder is made when missing, and the file has no name in it even while
// it holds bytes: nothing can be left behind however the program ends.
void tst_ByteStore::spillFileMakesItsFolderAndLeavesNothingThere()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("cache/panes"));
    SpillFile file;
    QVERIFY2(file.open(folder), qPrintable(file.errorString()));
    file.setReserve(0);
    const QByteArray bytes("kept out of memory", 18);
    const qint64 offset = file.write(bytes.constData(), bytes.size());
    QVERIFY2(offset >= 0, qPrintable(file.errorString()));
    QByteArray back(bytes.size(), Qt::Uninitialized);
    QVERIFY(file.read(offset, back.size(), back.data()));
    QCOMPARE(back, bytes);
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList());
}

void tst_ByteStore::paneBeyondTwoGiB()
{
    // Held in a spill file with little memory, so the test needs no 2 GiB of RAM.
    QTemporaryDir dir;
    SpillFile file;
    QVERIFY(file.open(dir.path()));
    file.setReserve(0);
    if (file.freeSpace() >= 0 && file.freeSpace() < (qint64(3) << 30))
        QSKIP("needs 3 GiB free on the disk of the temporary folder");

    ByteLineEdit box;
    box.resize(200, 24);
    box.store().setSpill(&file, 16 << 20);
    box.setLocked(true);
    BinaryTextBox::AttachPane(&box);
    const QByteArray block(1 << 20, 'x');
    const qsizetype past = (qsizetype(1) << 31) + (4 << 20);
    while (box.textLength() + block.size() <= past)
        box.appendText(block);
    box.appendAtEnd(QByteArray("some text", 9));
    const qsizetype length = box.textLength();
    QVERIFY(length > (qsizetype(1) << 31));
    QCOMPARE(box.store().lostBytes(), 0);
    QVERIFY(box.store().memoryBytes() <= (16 << 20) + (2 << 20));

    // The caret sits at the end, and the view shows the end.
    QCOMPARE(box.cursorPosition(), length);
    QCOMPARE(box.SelStart(), length);
    QVERIFY(box.visibleText().endsWith("some text"));
    QVERIFY(box.firstVisibleCell() > (qsizetype(1) << 31));

    // Keys move and select by the right positions; a double click takes the
    // word under the pointer.
    QTest::keyClick(&box, Qt::Key_Left, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(box.SelText(), QByteArray("text"));
    QCOMPARE(box.SelStart(), length - 4);
    QCOMPARE(box.SelLength(), 4);
    QTest::keyClick(&box, Qt::Key_Home);
    QCOMPARE(box.cursorPosition(), 0);
    QCOMPARE(box.firstVisibleCell(), 0);
    QTest::keyClick(&box, Qt::Key_End, Qt::ShiftModifier);
    QCOMPARE(box.SelLength(), length);
    box.setSelStart(length - 9);
    box.setSelLength(4);
    QCOMPARE(box.SelText(), QByteArray("some"));
    QCOMPARE(BinaryTextBox::PaneStore(box.hWnd()).at(length - 1), 't');
    BinaryTextBox::DetachPane(&box);
}

QTEST_MAIN(tst_ByteStore)
#include "tst_bytestore.moc"
