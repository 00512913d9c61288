#pragma once

#include "byteexport.h"
#include "sessionrecord.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

class QAction;
class QComboBox;
class QMenu;
class SessionController;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class RecordSearchJob;
class TimelineModel;

// The session record as a live table beside the terminal window: packets cut
// at idle gaps, line events and errors between them, a byte search, and copy
// or export of the selected packets. It only reads the record, on the
// record's own signal, a batch at a time, so the terminal never waits for it.
class TimelineWindow : public QWidget
{
    Q_OBJECT

public:
    explicit TimelineWindow(QWidget *parent = nullptr);
    ~TimelineWindow() override;

    // Adds "&Timeline..." to `menu`: it opens the timeline of the session's
    // record beside `terminal` (one window, raised when already open), and the
    // gap chosen there cuts the packets of saved files too.
    static QAction *addToMenu(QMenu *menu, SessionController *session, QWidget *terminal);

    // Shows `record` (null: an empty table until there is one).
    void setRecord(SessionRecord *record);

    TimelineModel *model() const { return m_model; }
    QTableView *view() const { return m_view; }
    RecordSearchJob *searchJob() const { return m_search; }

    // The idle gap in force, in nanoseconds, and the character time it
    // was worked out from (0 when the mode is not known).
    qint64 gapNs() const;
    qint64 characterNs() const;

    // Searches for what the find box holds (text or hex, as chosen).
    void findNext();
    void findPrevious();
    // The selected rows' bytes in `format`, to the clipboard or a file.
    void copySelection(ByteExport::Format format);
    bool exportSelection(ByteExport::Format format, const QString &fileName);

    // Controls, for tests and shortcuts.
    QDoubleSpinBox *gapValue = nullptr;
    QComboBox *gapUnit = nullptr;
    QLineEdit *findText = nullptr;
    QComboBox *findKind = nullptr;
    QPushButton *findPreviousButton = nullptr;
    QPushButton *findNextButton = nullptr;
    QLabel *matchLabel = nullptr;
    QComboBox *copyFormat = nullptr;
    QPushButton *copyButton = nullptr;
    QPushButton *exportButton = nullptr;
    QLabel *statusLabel = nullptr;

signals:
    // The packet gap changed: nanoseconds, or 0 for the default of 3.5
    // character times at the port's mode.
    void packetGapChanged(qint64 gapNs);
    // A search the window started has gone through the whole record.
    void searchFinished();

private:
    void buildControls();
    void applyTiming();
    void onEventsAppended();
    void onRowsAboutToBeInserted();
    void onRowsInserted();
    void startSearch(int direction);
    void onSearchFinished();
    void goToMatch(int direction);
    void showMatchCount();
    void showStatus();
    QList<int> selectedRows() const;
    QByteArray selectionBytes(ByteExport::Format format) const;
    void exportToFile();

    QPointer<SessionRecord> m_record;
    TimelineModel *m_model = nullptr;
    QTableView *m_view = nullptr;
    RecordSearchJob *m_search = nullptr;
    QString m_searchedText;
    int m_searchedKind = -1;
    int m_pendingDirection = 0;
    bool m_follow = true;
    QString m_mode;
    QTimer m_timingDelay;
};
