#include "byteexport.h"
#include "clipboardblock.h"
#include "idlegapsplitter.h"
#include "paneclipboard.h"
#include "recordsearch.h"
#include "sessionrecord.h"
#include "timelinemodel.h"
#include "timelinewindow.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The timeline window over a real session record (spooled to a temporary
// directory): rows as packets and events, the packet gap, search across
// chunks, live rows and following, copy and export of selected rows.
class tst_Timeline : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void rowsShowPacketsAndEvents();
    void gapSettingCutsPackets();
    void searchFollowsEachDirection();
    void liveRowsAndFollowing();
    void copyAndExportSelection();

private:
    QString cell(int row, int column) const { return m_window->model()->index(row, column).data().toString(); }
    void flush() { m_record->flush(); }
    bool search(const QString &text, bool hex);
    void selectRows(int first, int last);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SessionRecord> m_record;
    std::unique_ptr<TimelineWindow> m_window;
    qint64 m_t0 = 0;
    qint64 m_ch = 0;
};

static constexpr qint64 ms = 1000000;

void tst_Timeline::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_record = std::make_unique<SessionRecord>(m_dir->path());
    QVERIFY(m_record->isValid());
    m_t0 = m_record->startMonotonic();
    m_ch = characterTimeNs(QStringLiteral("9600,N,8,1"));
    m_record->portOpened(m_t0 + 1 * ms, QStringLiteral("/dev/pts/9"), QStringLiteral("9600,N,8,1"), 0, false);
    m_record->bytesSent(m_t0 + 10 * ms, QByteArray("\x01\x03\x00", 3));
    m_record->bytesReceived(m_t0 + 200 * ms, QByteArray("\x01\x03\x02\x7E", 4));
    // Its first byte follows the last one after 2 ms of silence: one packet
    // at 3.5 character times (3.6 ms), two at one character time.
    m_record->bytesReceived(m_t0 + 200 * ms + 3 * m_ch + 2 * ms, QByteArray("\x00\x0D\x00", 3));
    m_record->outputLines(m_t0 + 300 * ms, true, false);
    m_record->bytesReceived(m_t0 + 400 * ms, QByteArray("AT\r\n"));
    flush();
    m_window = std::make_unique<TimelineWindow>();
    m_window->setRecord(m_record.get());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void tst_Timeline::cleanup()
{
    m_window.reset();
    m_record.reset();
    m_dir.reset();
}

bool tst_Timeline::search(const QString &text, bool hex)
{
    m_window->findText->setText(text);
    m_window->findKind->setCurrentIndex(hex ? 1 : 0);
    QSignalSpy done(m_window.get(), &TimelineWindow::searchFinished);
    m_window->findNext();
    return done.wait(10000);
}

void tst_Timeline::selectRows(int first, int last)
{
    QTableView *view = m_window->view();
    view->clearSelection();
    view->selectionModel()->select(QItemSelection(m_window->model()->index(first, 0),
                                                  m_window->model()->index(last, TimelineModel::ColumnCount - 1)),
                                   QItemSelectionModel::Select);
}

void tst_Timeline::rowsShowPacketsAndEvents()
{
    TimelineModel *model = m_window->model();
    QCOMPARE(model->rowCount(), 5);
    const QStringList kinds{cell(0, TimelineModel::Direction), cell(1, TimelineModel::Direction),
                            cell(2, TimelineModel::Direction), cell(3, TimelineModel::Direction),
                            cell(4, TimelineModel::Direction)};
    QCOMPARE(kinds, (QStringList{"Open", "TX", "RX", "DTR/RTS", "RX"}));
    QCOMPARE(cell(2, TimelineModel::Length), QStringLiteral("7"));
    QCOMPARE(cell(2, TimelineModel::Hex), QStringLiteral("01 03 02 7E 00 0D 00"));
    // The panes' glyphs: NUL as a blank cell, 0x0D as a note.
    QCOMPARE(cell(2, TimelineModel::Text), QStringLiteral(u"\u263A\u2665\u263B~ \u266A "));
    QCOMPARE(cell(1, TimelineModel::Relative), QStringLiteral("0.010000"));
    QCOMPARE(cell(2, TimelineModel::Gap), QStringLiteral("190.000 ms"));
    QVERIFY(cell(3, TimelineModel::Hex).contains(QStringLiteral("DTR on")));
    QCOMPARE(cell(3, TimelineModel::Length), QString());
    // Kinds are told apart by colour.
    auto colour = [&](int row) { return model->index(row, 0).data(Qt::BackgroundRole).value<QBrush>().color(); };
    QVERIFY(colour(1) != colour(2));
    QVERIFY(colour(3) != colour(2));
    QVERIFY(colour(0) != colour(3));
    QCOMPARE(colour(2), colour(4));
}

void tst_Timeline::gapSettingCutsPackets()
{
    QCOMPARE(m_window->gapNs(), qint64(3.5 * double(m_ch)));
    QSignalSpy gap(m_window.get(), &TimelineWindow::packetGapChanged);
    m_window->gapValue->setValue(1.0);
    QVERIFY(gap.wait(5000));
    QCOMPARE(gap.last().at(0).toLongLong(), m_ch);
    QCOMPARE(m_window->model()->rowCount(), 6);
    QCOMPARE(cell(2, TimelineModel::Hex), QStringLiteral("01 03 02 7E"));
    QCOMPARE(cell(3, TimelineModel::Hex), QStringLiteral("00 0D 00"));
    QCOMPARE(cell(3, TimelineModel::Gap), QStringLiteral("%1 ms").arg(double(2 * ms + 3 * m_ch) / 1e6, 0, 'f', 3));

    m_window->gapUnit->setCurrentIndex(1); // milliseconds: 1 ms
    QCOMPARE(m_window->gapNs(), 1 * ms);
    QCOMPARE(m_window->model()->rowCount(), 6);
    m_window->gapValue->setValue(2.5);
    QVERIFY(gap.wait(5000));
    QCOMPARE(gap.last().at(0).toLongLong(), qint64(2.5 * ms));
    QCOMPARE(m_window->model()->rowCount(), 5);
}

void tst_Timeline::searchFollowsEachDirection()
{
    // In both directions: sent 01 03 00, received 01 03 02.
    QVERIFY(search(QStringLiteral("01 03"), true));
    QCOMPARE(m_window->searchJob()->search()->matchCount(), 2);
    QCOMPARE(m_window->view()->currentIndex().row(), 1);
    m_window->findNext();
    QCOMPARE(m_window->view()->currentIndex().row(), 2);
    m_window->findNext(); // round to the first again
    QCOMPARE(m_window->view()->currentIndex().row(), 1);
    m_window->findPrevious();
    QCOMPARE(m_window->view()->currentIndex().row(), 2);
    QVERIFY(m_window->matchLabel->text().startsWith(QStringLiteral("2 matches")));

    // Across two received chunks, with a wildcard for the NUL.
    QVERIFY(search(QStringLiteral("7E ?? 0D"), true));
    QCOMPARE(m_window->searchJob()->search()->matchCount(), 1);
    QCOMPARE(m_window->view()->currentIndex().row(), 2);
    // The sent 00 and the received 01 03 02 are not one stream.
    QVERIFY(search(QStringLiteral("00 01 03 02"), true));
    QCOMPARE(m_window->searchJob()->search()->matchCount(), 0);
    QCOMPARE(m_window->matchLabel->text(), QStringLiteral("0 matches"));

    // A hex typing mistake is shown, not searched.
    m_window->findText->setText(QStringLiteral("7E 0G"));
    m_window->findKind->setCurrentIndex(1);
    m_window->findNext();
    QVERIFY(m_window->matchLabel->text().startsWith(QStringLiteral("Hex:")));

    // Text, and the count stays live as bytes arrive; "AT" split over two
    // chunks still counts.
    QVERIFY(search(QStringLiteral("AT"), false));
    QCOMPARE(m_window->searchJob()->search()->matchCount(), 1);
    m_record->bytesReceived(m_t0 + 900 * ms, QByteArray("xxA"));
    m_record->bytesReceived(m_t0 + 900 * ms + m_ch, QByteArray("T"));
    flush();
    QCOMPARE(m_window->searchJob()->search()->matchCount(), 2);
    QVERIFY(m_window->matchLabel->text().startsWith(QStringLiteral("2 matches")));
}

void tst_Timeline::liveRowsAndFollowing()
{
    QScrollBar *bar = m_window->view()->verticalScrollBar();
    auto addPackets = [&](int n, qint64 from) {
        for (int i = 0; i < n; ++i)
            m_record->bytesReceived(m_t0 + from + i * 100 * ms, QByteArray("packet"));
        flush();
    };
    addPackets(200, 1000 * ms);
    QCOMPARE(m_window->model()->rowCount(), 205);
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());

    // Scrolled away: new rows come in below without moving the view.
    bar->setValue(10);
    addPackets(50, 30000 * ms);
    QCOMPARE(m_window->model()->rowCount(), 255);
    QCOMPARE(bar->value(), 10);
    // Back at the end: following again.
    bar->setValue(bar->maximum());
    addPackets(5, 40000 * ms);
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(m_window->view()->rowAt(m_window->view()->viewport()->height() - 2), 259);

    // A last packet that grows is shown grown.
    m_record->bytesReceived(m_t0 + 40400 * ms + 2 * m_ch, QByteArray("++"));
    flush();
    QCOMPARE(m_window->model()->rowCount(), 260);
    QCOMPARE(cell(259, TimelineModel::Length), QStringLiteral("8"));
}

void tst_Timeline::copyAndExportSelection()
{
    const QByteArray packet("\x01\x03\x02\x7E\x00\x0D\x00", 7);
    selectRows(2, 2);
    m_window->copyFormat->setCurrentIndex(0); // raw bytes
    m_window->copySelection(ByteExport::Format::Raw);
    // The private block, so the output pane gets the NULs too.
    const QMimeData *mime = QApplication::clipboard()->mimeData();
    QVERIFY(mime->hasFormat(QString::fromLatin1(ClipboardBlock::FormatName)));
    QCOMPARE(BinaryTextBox::GetBytesFromClipboard(0), packet);

    m_window->copySelection(ByteExport::Format::Hex);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("01 03 02 7E 00 0D 00\n"));

    // Rows 1..4: the line-event row gives no bytes; rows in record order.
    selectRows(1, 4);
    const QString path = m_dir->filePath(QStringLiteral("export.txt"));
    QVERIFY(m_window->exportSelection(ByteExport::Format::Escaped, path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QCOMPARE(text, QByteArray("\"\\x01\\x03\\x00\"\n\"\\x01\\x03\\x02~\\x00\\r\\x00\"\n\"AT\\r\\n\"\n"));
    QCOMPARE(ByteExport::UnescapeStrings(text),
             std::optional<QByteArray>(QByteArray("\x01\x03\x00", 3) + packet + "AT\r\n"));

    // Nothing with bytes selected: nothing copied, and the user is told.
    selectRows(3, 3);
    QApplication::clipboard()->clear();
    m_window->copySelection(ByteExport::Format::Raw);
    QCOMPARE(BinaryTextBox::GetBytesFromClipboard(0), QByteArray());
    QCOMPARE(m_window->statusLabel->text(), QStringLiteral("No bytes selected"));
}

QTEST_MAIN(tst_Timeline)
#include "tst_timeline.moc"
