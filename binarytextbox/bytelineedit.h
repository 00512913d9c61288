#pragma once

#include "bytestore.h"

#include <QByteArray>
#include <QList>
#include <QRawFont>
#include <QWidget>

#include <array>
#include <memory>

// A single-line edit box whose text is a byte string, one character cell per
// byte, drawn with the code page 437 glyph of each byte in a fixed-pitch font
// (a NUL as a blank cell). The box holds the bytes themselves, exactly, in a
// chunked store, and draws from them: there is no second, display copy.
// It behaves as a standard single-line edit box (caret, selection by mouse and
// keyboard, horizontal scrolling, typing, Backspace, the Delete variants) and
// stays fast with megabytes of text: appending costs time in proportion to the
// appended bytes, and painting, hit-testing and scrolling draw and measure only
// the visible cells.
//
// Positions (SelStart, SelLength) are byte positions in Text().
class ByteLineEdit : public QWidget
{
    Q_OBJECT

public:
    explicit ByteLineEdit(QWidget *parent = nullptr);
    ~ByteLineEdit() override;

    // Process-unique integer handle, given when the box is made.
    int hWnd() const { return m_handle; }

    // The visible text, one byte per cell, as a copy (each NUL as the space
    // it is drawn as). Setting it keeps the bytes exactly and puts the caret
    // at 0 with no selection.
    QByteArray Text() const;
    void setText(QByteArrayView text);

    // The bytes themselves, and how many there are.
    const ByteStore &bytes() const { return m_text; }
    qsizetype textLength() const { return m_text.size(); }
    // Lets the store keep its oldest bytes in a file (see ByteStore).
    ByteStore &store() { return m_text; }

    // Appends at the end without touching the existing text; the caret and
    // selection stay where they were.
    void appendText(QByteArrayView bytes);

    // Appends and puts the caret at the new end, as received data does, with
    // a single repaint for both: the view then follows the end.
    void appendAtEnd(QByteArrayView bytes);

    // The cells in view as they are drawn: one byte per cell, NUL as a space.
    QByteArray visibleText() const;

    // Start of the selection (or the caret when nothing is selected). Setting
    // it clamps to the text and clears the selection.
    qsizetype SelStart() const;
    void setSelStart(qsizetype start);

    // Length of the selection. Setting it selects from SelStart onwards,
    // clamped to the text, with the caret at the selection's end.
    qsizetype SelLength() const;
    void setSelLength(qsizetype length);

    // The selected bytes; setting replaces the selection (or inserts at the
    // caret) and leaves the caret after the new text.
    QByteArray SelText() const;
    void setSelText(QByteArrayView bytes);

    // Read-only: editing keys are ignored, selection and navigation work.
    bool Locked() const { return m_locked; }
    void setLocked(bool locked);

    // The caret position (the moving end of the selection).
    qsizetype cursorPosition() const { return m_caret; }

    void selectAll();

    // First visible cell (the horizontal scroll position, in cells).
    qsizetype firstVisibleCell() const { return m_scroll; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Each byte's glyph as a font and glyph index, with its centring in the
    // cell: found once per font (and shared by every box in that font), so
    // painting draws ready glyphs instead of laying text out cell by cell.
    struct GlyphTable
    {
        struct Cell
        {
            int font = -1;
            quint32 index = 0;
            qreal offset = 0;
        };
        std::array<Cell, 256> cells{};
        QList<QRawFont> fonts;
    };

signals:
    // Emitted after the user's own editing changed the text.
    void textEdited();

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool event(QEvent *event) override;

private:
    enum class Move { Char, Word, Line };

    // Geometry of the text area: where cell 0 of the visible part starts.
    QRect textRect() const;
    void updateMetrics();
    qsizetype positionAt(int x) const; // nearest cell boundary
    qsizetype cellAt(int x) const;     // cell under the pointer
    void ensureCaretVisible();
    // For changes made by the program (received data may change the box
    // hundreds of times a second): repaints once per frame.
    void repaintSoon();

    bool hasSelection() const { return m_anchor != m_caret; }
    qsizetype selectionEnd() const { return qMax(m_anchor, m_caret); }
    void moveCaret(qsizetype position, bool extend);
    qsizetype wordStartBefore(qsizetype position) const;
    qsizetype nextWordStart(qsizetype position) const;
    void selectWordAt(qsizetype cell);

    // User editing: each changes the text and emits textEdited().
    void replaceSelection(QByteArrayView bytes, bool byUser);
    void removeRange(qsizetype from, qsizetype to);
    void copyToClipboard() const;
    void pasteFromClipboard();

    void restartBlink();

    int m_handle = 0;
    ByteStore m_text;
    qsizetype m_anchor = 0;
    qsizetype m_caret = 0;
    qsizetype m_scroll = 0; // first visible cell
    mutable QRect m_textRect;
    mutable QSize m_textRectSize; // the widget size m_textRect was made for
    bool m_locked = false;
    qsizetype m_paintedLength = 0; // the text's length at the last repaint for data

    int m_cellWidth = 8;
    int m_ascent = 0;
    int m_lineHeight = 0;
    std::shared_ptr<const GlyphTable> m_glyphs;

    bool m_caretOn = false;
    int m_blinkTimer = 0;
    bool m_dragging = false;
    qint64 m_lastDoubleClick = 0; // for triple click: select all
    QPoint m_doubleClickPos;
};
