#include "timelinewindow.h"

#include "idlegapsplitter.h"
#include "paneclipboard.h"
#include "recordsearch.h"
#include "sessioncontroller.h"
#include "timelinemodel.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>

namespace {
// The mode a port opens with when nothing else is set: the character time
// of an idle gap before any port has been opened.
const QString kDefaultMode = QStringLiteral("9600,N,8,1");
enum GapUnit { CharacterTimes = 0, Milliseconds = 1 };
enum FindKind { FindText = 0, FindHex = 1 };
} // namespace

TimelineWindow::TimelineWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmTimeline"));
    setWindowTitle(QStringLiteral("Timeline"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    m_model = new TimelineModel(this);
    m_search = new RecordSearchJob(this);
    buildControls();

    m_timingDelay.setSingleShot(true);
    m_timingDelay.setInterval(300);
    connect(&m_timingDelay, &QTimer::timeout, this, &TimelineWindow::applyTiming);
    connect(m_model, &QAbstractItemModel::rowsAboutToBeInserted, this, &TimelineWindow::onRowsAboutToBeInserted);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &TimelineWindow::onRowsInserted);
    connect(m_view->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        m_follow = value == m_view->verticalScrollBar()->maximum();
        showStatus();
    });
    connect(m_search, &RecordSearchJob::progress, this, &TimelineWindow::showMatchCount);
    connect(m_search, &RecordSearchJob::finished, this, &TimelineWindow::onSearchFinished);
    connect(m_search, &RecordSearchJob::updated, this, &TimelineWindow::showMatchCount);
    resize(900, 420);
}

TimelineWindow::~TimelineWindow() = default;

QAction *TimelineWindow::addToMenu(QMenu *menu, SessionController *session, QWidget *terminal)
{
    if (!menu->isEmpty())
        menu->addSeparator();
    QAction *action = menu->addAction(QStringLiteral("&Timeline..."));
    action->setObjectName(QStringLiteral("mnuTimeline"));
    QPointer<TimelineWindow> window;
    QObject::connect(action, &QAction::triggered, terminal, [session, terminal, window]() mutable {
        if (!window) {
            window = new TimelineWindow(terminal);
            QObject::connect(window, &TimelineWindow::packetGapChanged, session, &SessionController::setPacketGap);
            window->setRecord(session->record());
            // The record goes with the session before the window is taken
            // down; a search still reading it must end first.
            QObject::connect(qApp, &QCoreApplication::aboutToQuit, window, [window] { window->setRecord(nullptr); });
            // Beside the terminal window, on the same screen where it fits.
            const QRect frame = terminal->frameGeometry();
            QPoint at(frame.right() + 8, frame.top());
            if (const QScreen *screen = terminal->screen()) {
                const QRect room = screen->availableGeometry();
                if (at.x() + window->width() > room.right())
                    at.setX(std::max(room.left(), room.right() - window->width()));
            }
            window->move(at);
        }
        window->show();
        window->raise();
        window->activateWindow();
    });
    return action;
}

void TimelineWindow::buildControls()
{
    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Packet gap:"), this));
    gapValue = new QDoubleSpinBox(this);
    gapValue->setObjectName(QStringLiteral("gapValue"));
    gapValue->setDecimals(2);
    gapValue->setRange(0, 1000000);
    gapValue->setValue(3.5);
    gapValue->setMaximumWidth(100);
    top->addWidget(gapValue);
    gapUnit = new QComboBox(this);
    gapUnit->setObjectName(QStringLiteral("gapUnit"));
    gapUnit->addItems({QStringLiteral("character times"), QStringLiteral("ms")});
    top->addWidget(gapUnit);
    top->addSpacing(16);
    top->addWidget(new QLabel(QStringLiteral("Find:"), this));
    findText = new QLineEdit(this);
    findText->setObjectName(QStringLiteral("findText"));
    findText->setPlaceholderText(QStringLiteral("text, or hex such as 7E ?? 00 0D"));
    findText->setClearButtonEnabled(true);
    findText->setMinimumWidth(200);
    top->addWidget(findText, 1);
    findKind = new QComboBox(this);
    findKind->setObjectName(QStringLiteral("findKind"));
    findKind->addItems({QStringLiteral("Text"), QStringLiteral("Hex")});
    top->addWidget(findKind);
    findPreviousButton = new QPushButton(QStringLiteral("&Previous"), this);
    findNextButton = new QPushButton(QStringLiteral("&Next"), this);
    top->addWidget(findPreviousButton);
    top->addWidget(findNextButton);
    matchLabel = new QLabel(this);
    matchLabel->setMinimumWidth(150);
    top->addWidget(matchLabel);

    m_view = new QTableView(this);
    m_view->setObjectName(QStringLiteral("timelineView"));
    m_view->setModel(m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setWordWrap(false);
    m_view->setShowGrid(false);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setFamilies({QStringLiteral("DejaVu Sans Mono"), mono.family()});
    m_view->setFont(mono);
    // Fixed row heights let the view place a million rows without asking
    // each one for its size.
    QHeaderView *rows = m_view->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(QFontMetrics(mono).height() + 4);
    rows->hide();
    QHeaderView *columns = m_view->horizontalHeader();
    columns->setSectionResizeMode(QHeaderView::Interactive);
    const int digit = QFontMetrics(mono).horizontalAdvance(QLatin1Char('0'));
    m_view->setColumnWidth(TimelineModel::Time, digit * 17);
    m_view->setColumnWidth(TimelineModel::Relative, digit * 16);
    m_view->setColumnWidth(TimelineModel::Gap, digit * 13);
    m_view->setColumnWidth(TimelineModel::Direction, digit * 10);
    m_view->setColumnWidth(TimelineModel::Length, digit * 7);
    m_view->setColumnWidth(TimelineModel::Hex, digit * 40);
    columns->setStretchLastSection(true);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(new QLabel(QStringLiteral("Copy as:"), this));
    copyFormat = new QComboBox(this);
    copyFormat->setObjectName(QStringLiteral("copyFormat"));
    copyFormat->addItem(QStringLiteral("Raw bytes"), int(ByteExport::Format::Raw));
    copyFormat->addItem(QStringLiteral("Hex"), int(ByteExport::Format::Hex));
    copyFormat->addItem(QStringLiteral("C array"), int(ByteExport::Format::CArray));
    copyFormat->addItem(QStringLiteral("Escaped string"), int(ByteExport::Format::Escaped));
    bottom->addWidget(copyFormat);
    copyButton = new QPushButton(QStringLiteral("&Copy"), this);
    exportButton = new QPushButton(QStringLiteral("&Export..."), this);
    bottom->addWidget(copyButton);
    bottom->addWidget(exportButton);
    bottom->addSpacing(16);
    statusLabel = new QLabel(this);
    bottom->addWidget(statusLabel, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_view, 1);
    layout->addLayout(bottom);

    auto format = [this] { return ByteExport::Format(copyFormat->currentData().toInt()); };
    connect(gapValue, &QDoubleSpinBox::valueChanged, this, [this] { m_timingDelay.start(); });
    connect(gapUnit, &QComboBox::currentIndexChanged, this, [this] { applyTiming(); });
    connect(findText, &QLineEdit::returnPressed, this, &TimelineWindow::findNext);
    connect(findNextButton, &QPushButton::clicked, this, &TimelineWindow::findNext);
    connect(findPreviousButton, &QPushButton::clicked, this, &TimelineWindow::findPrevious);
    connect(findKind, &QComboBox::currentIndexChanged, this, [this] { m_searchedKind = -1; });
    connect(copyButton, &QPushButton::clicked, this, [this, format] { copySelection(format()); });
    connect(exportButton, &QPushButton::clicked, this, &TimelineWindow::exportToFile);
    auto *copy = new QShortcut(QKeySequence::Copy, m_view);
    copy->setContext(Qt::WidgetShortcut);
    connect(copy, &QShortcut::activated, this, [this, format] { copySelection(format()); });
    connect(new QShortcut(QKeySequence::FindNext, this), &QShortcut::activated, this, &TimelineWindow::findNext);
    connect(new QShortcut(QKeySequence::FindPrevious, this), &QShortcut::activated, this,
            &TimelineWindow::findPrevious);
    connect(new QShortcut(QKeySequence::Find, this), &QShortcut::activated, this, [this] {
        findText->setFocus();
        findText->selectAll();
    });
}

void TimelineWindow::setRecord(SessionRecord *record)
{
    if (m_record == record)
        return;
    if (m_record)
        disconnect(m_record, nullptr, this, nullptr);
    m_search->stop();
    m_searchedKind = -1;
    m_record = record;
    m_mode = record ? record->mode() : QString();
    if (record) {
        connect(record, &SessionRecord::eventsAppended, this, &TimelineWindow::onEventsAppended);
        connect(record, &QObject::destroyed, this, [this] { setRecord(nullptr); });
    }
    m_model->setTiming(gapNs(), characterNs());
    m_model->setRecord(record);
    m_follow = true;
    m_view->scrollToBottom();
    showMatchCount();
    showStatus();
}

qint64 TimelineWindow::characterNs() const
{
    const QString mode = m_mode.isEmpty() ? kDefaultMode : m_mode;
    return characterTimeNs(mode);
}

qint64 TimelineWindow::gapNs() const
{
    if (gapUnit->currentIndex() == Milliseconds)
        return qint64(gapValue->value() * 1e6);
    return qint64(gapValue->value() * double(characterNs()));
}

void TimelineWindow::applyTiming()
{
    const int top = m_view->rowAt(0);
    const qint64 topEvent = top >= 0 ? m_model->packets().packet(top).firstEvent : -1;
    m_model->setTiming(gapNs(), characterNs());
    // The same place in the record, whatever its row is now.
    if (m_follow)
        m_view->scrollToBottom();
    else if (topEvent >= 0)
        m_view->scrollTo(m_model->index(m_model->rowOfEvent(topEvent), 0), QAbstractItemView::PositionAtTop);
    m_searchedKind = -1;
    showStatus();
    const bool standard = gapUnit->currentIndex() == CharacterTimes && gapValue->value() == 3.5;
    emit packetGapChanged(standard ? 0 : gapNs());
}

void TimelineWindow::onEventsAppended()
{
    // A port opened at another mode changes what a character time is.
    if (m_record && m_record->mode() != m_mode) {
        m_mode = m_record->mode();
        if (gapUnit->currentIndex() == CharacterTimes) {
            applyTiming();
            m_search->catchUp();
            return;
        }
    }
    m_model->update();
    m_search->catchUp();
    showStatus();
}

void TimelineWindow::onRowsAboutToBeInserted()
{
    const QScrollBar *bar = m_view->verticalScrollBar();
    m_follow = bar->value() == bar->maximum();
}

void TimelineWindow::onRowsInserted()
{
    if (m_follow)
        m_view->scrollToBottom();
}

void TimelineWindow::findNext()
{
    startSearch(+1);
}

void TimelineWindow::findPrevious()
{
    startSearch(-1);
}

void TimelineWindow::startSearch(int direction)
{
    if (!m_record) {
        matchLabel->setText(QStringLiteral("No record"));
        return;
    }
    const QString text = findText->text();
    const int kind = findKind->currentIndex();
    if (text == m_searchedText && kind == m_searchedKind && (m_search->search() || m_search->isRunning())) {
        if (m_search->isRunning())
            m_pendingDirection = direction;
        else
            goToMatch(direction);
        return;
    }
    BytePattern pattern;
    if (kind == FindHex) {
        const BytePatternParse parsed = BytePatterns::ParseHexPattern(text);
        if (!parsed.ok()) {
            matchLabel->setText(QStringLiteral("Hex: %1").arg(parsed.error));
            findText->setCursorPosition(int(parsed.errorAt));
            return;
        }
        pattern = parsed.pattern;
    } else {
        pattern = BytePatterns::TextPattern(text);
        if (pattern.isEmpty()) {
            matchLabel->clear();
            return;
        }
    }
    m_searchedText = text;
    m_searchedKind = kind;
    m_pendingDirection = direction;
    m_search->start(m_record, pattern);
    showMatchCount();
}

void TimelineWindow::onSearchFinished()
{
    showMatchCount();
    if (!m_search->errorString().isEmpty()) {
        m_searchedKind = -1;
    } else if (m_pendingDirection != 0) {
        goToMatch(m_pendingDirection);
    }
    m_pendingDirection = 0;
    emit searchFinished();
}

void TimelineWindow::goToMatch(int direction)
{
    const RecordSearch *search = m_search->search();
    if (!search || search->matchEvents().empty())
        return;
    const QModelIndex current = m_view->currentIndex();
    qint64 event = -1;
    if (current.isValid()) {
        const RecordPacket p = m_model->packets().packet(current.row());
        event = direction > 0 ? search->nextMatchEvent(p.firstEvent + p.eventCount)
                              : search->previousMatchEvent(p.firstEvent);
    } else {
        event = direction > 0 ? search->matchEvents().front() : search->matchEvents().back();
    }
    // Past the last match, go round to the first (and the other way).
    if (event < 0)
        event = direction > 0 ? search->matchEvents().front() : search->matchEvents().back();
    const int row = m_model->rowOfEvent(event);
    if (row < 0)
        return;
    const QModelIndex index = m_model->index(row, 0);
    m_view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_view->scrollTo(index, QAbstractItemView::PositionAtCenter);
    showMatchCount();
}

void TimelineWindow::showMatchCount()
{
    if (m_search->isRunning()) {
        const int percent = int(100 * m_search->bytesDone() / std::max<qint64>(1, m_search->bytesTotal()));
        matchLabel->setText(QStringLiteral("Searching... %1 %").arg(std::min(percent, 100)));
        return;
    }
    if (!m_search->errorString().isEmpty()) {
        matchLabel->setText(QStringLiteral("Search failed: %1").arg(m_search->errorString()));
        return;
    }
    const RecordSearch *search = m_search->search();
    if (!search) {
        matchLabel->clear();
        return;
    }
    const qint64 n = search->matchCount();
    QString text = n == 1 ? QStringLiteral("1 match") : QStringLiteral("%1 matches").arg(n);
    const QModelIndex current = m_view->currentIndex();
    if (n > 0 && current.isValid()) {
        const RecordPacket p = m_model->packets().packet(current.row());
        if (search->nextMatchEvent(p.firstEvent) >= 0
            && search->nextMatchEvent(p.firstEvent) < p.firstEvent + p.eventCount)
            text += QStringLiteral(" (row %1 holds one)").arg(current.row() + 1);
    }
    matchLabel->setText(text);
}

void TimelineWindow::showStatus()
{
    const int rows = m_model->rowCount();
    QString text = rows == 1 ? QStringLiteral("1 row") : QStringLiteral("%1 rows").arg(rows);
    text += m_follow ? QStringLiteral(", following the newest") : QStringLiteral(", scrolled away (End follows again)");
    const qint64 ch = characterNs();
    if (gapUnit->currentIndex() == CharacterTimes)
        text += QStringLiteral(", gap %1 at %2")
                    .arg(TimelineModel::durationText(gapNs()), m_mode.isEmpty() ? kDefaultMode : m_mode);
    else if (ch > 0)
        text += QStringLiteral(", gap %1 character times").arg(double(gapNs()) / double(ch), 0, 'f', 2);
    statusLabel->setText(text);
}

QList<int> TimelineWindow::selectedRows() const
{
    QList<int> rows;
    const QItemSelection selection = m_view->selectionModel()->selection();
    for (const QItemSelectionRange &range : selection) {
        for (int r = range.top(); r <= range.bottom(); ++r)
            rows.append(r);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

QByteArray TimelineWindow::selectionBytes(ByteExport::Format format) const
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QByteArray out = ByteExport::Export(format, m_model->rowBytes(selectedRows()));
    QApplication::restoreOverrideCursor();
    return out;
}

void TimelineWindow::copySelection(ByteExport::Format format)
{
    const QByteArray bytes = selectionBytes(format);
    if (bytes.isEmpty()) {
        statusLabel->setText(QStringLiteral("No bytes selected"));
        return;
    }
    if (format == ByteExport::Format::Raw) {
        // The panes' own clipboard block: a paste into the output pane gives
        // these bytes exactly, NULs included.
        BinaryTextBox::PutBytesOnClipboard(0, bytes);
    } else {
        QApplication::clipboard()->setText(QString::fromLatin1(bytes));
    }
    statusLabel->setText(QStringLiteral("Copied %1 bytes as %2").arg(bytes.size()).arg(copyFormat->currentText()));
}

bool TimelineWindow::exportSelection(ByteExport::Format format, const QString &fileName)
{
    const QByteArray bytes = selectionBytes(format);
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() || !file.flush()) {
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("Could not write %1: %2").arg(fileName, file.errorString()));
        return false;
    }
    statusLabel->setText(QStringLiteral("Wrote %1 bytes to %2").arg(bytes.size()).arg(fileName));
    return true;
}

void TimelineWindow::exportToFile()
{
    const auto format = ByteExport::Format(copyFormat->currentData().toInt());
    if (selectedRows().isEmpty()) {
        statusLabel->setText(QStringLiteral("No rows selected"));
        return;
    }
    const QString suffix = format == ByteExport::Format::Raw      ? QStringLiteral("bin")
                           : format == ByteExport::Format::CArray ? QStringLiteral("c")
                                                                  : QStringLiteral("txt");
    const QString name = QFileDialog::getSaveFileName(this, QStringLiteral("Export selected packets"),
                                                      QStringLiteral("packets.") + suffix);
    if (!name.isEmpty())
        exportSelection(format, name);
}
