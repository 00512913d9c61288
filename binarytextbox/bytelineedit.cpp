#include "bytelineedit.h"

#include "repaintthrottle.h"

#include "bytetext.h"
#include "cp437.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QGlyphRun>
#include <QHash>
#include <QPainter>
#include <QTextLayout>
#include <QVarLengthArray>
#include <QStyle>
#include <QStyleOptionFrame>

#include <array>
#include <atomic>

namespace {

// Same inner margins as QLineEdit, so a pane lines up with the stock line
// edits around it.
constexpr int kHorizontalMargin = 2;
constexpr int kVerticalMargin = 1;

std::atomic<int> s_nextHandle{1};

enum CharClass { Space, Word, Punctuation };

// Word boundaries follow what the cell shows, so a double click selects what
// looks like one word.
const std::array<CharClass, 256> &charClasses()
{
    static const std::array<CharClass, 256> classes = [] {
        std::array<CharClass, 256> c{};
        for (int b = 0; b < 256; ++b) {
            const QChar glyph(Cp437Glyph(static_cast<unsigned char>(b)));
            if (glyph.isSpace())
                c[b] = Space;
            else if (glyph.isLetterOrNumber() || b == '_')
                c[b] = Word;
            else
                c[b] = Punctuation;
        }
        return c;
    }();
    return classes;
}

CharClass classAt(const ByteStore &text, qsizetype i)
{
    return charClasses()[static_cast<unsigned char>(text.at(i))];
}

// Only Shift, Ctrl and Alt decide what a key does here; the keypad flag and
// Meta do not, so a keypad Home is Home.
Qt::KeyboardModifiers editModifiers(const QKeyEvent *event)
{
    return event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
}

// The bytes a key's text types: each character U+0020..U+00FF is its
// Latin-1 byte; control characters and characters beyond Latin-1 have none.
QByteArray typedBytes(const QString &text)
{
    QByteArray bytes;
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() <= 0xFF)
            bytes.append(static_cast<char>(c.unicode()));
    }
    return bytes;
}

void initPanelOption(const QWidget *widget, bool locked, QStyleOptionFrame *option)
{
    option->initFrom(widget);
    option->rect = widget->contentsRect();
    option->lineWidth = widget->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, option, widget);
    option->midLineWidth = 0;
    option->state |= QStyle::State_Sunken;
    if (locked)
        option->state |= QStyle::State_ReadOnly;
    option->features = QStyleOptionFrame::None;
}

} // namespace

ByteLineEdit::ByteLineEdit(QWidget *parent)
    : QWidget(parent)
    , m_handle(s_nextHandle.fetch_add(1))
{
    QFont paneFont(QStringLiteral("DejaVu Sans Mono"));
    paneFont.setStyleHint(QFont::Monospace);
    paneFont.setFixedPitch(true);
    paneFont.setPixelSize(12);
    setFont(paneFont);

    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setAttribute(Qt::WA_KeyCompression, false);
    setCursor(Qt::IBeamCursor);
    setBackgroundRole(QPalette::Base);
    // Every pixel is painted by the box itself (see paintEvent), so that a
    // repaint of the cells paints nothing behind it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed, QSizePolicy::LineEdit));
    updateMetrics();
}

ByteLineEdit::~ByteLineEdit() = default;

// ---------------------------------------------------------------- text API

QByteArray ByteLineEdit::Text() const
{
    return DisplayText(m_text.toByteArray());
}

void ByteLineEdit::setText(QByteArrayView text)
{
    m_text.assign(text);
    m_anchor = m_caret = 0;
    m_scroll = 0;
    restartBlink();
    update();
}

void ByteLineEdit::appendText(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    const qsizetype oldLength = m_text.size();
    m_text.append(bytes);
    // Cells beyond the right edge need no repaint.
    const QRect r = textRect();
    if (oldLength <= m_scroll + r.width() / m_cellWidth + 1)
        repaintSoon();
}

void ByteLineEdit::appendAtEnd(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    m_text.append(bytes);
    m_anchor = m_caret = m_text.size();
    ensureCaretVisible();
    // A read-only box shows no caret, so there is no blink to restart for
    // every block that arrives.
    if (!m_locked)
        restartBlink();
    repaintSoon();
}

QByteArray ByteLineEdit::visibleText() const
{
    const QRect r = textRect();
    const qsizetype first = qMin(m_scroll, m_text.size());
    return DisplayText(m_text.mid(first, r.width() / m_cellWidth + 2));
}

qsizetype ByteLineEdit::SelStart() const
{
    return qMin(m_anchor, m_caret);
}

void ByteLineEdit::setSelStart(qsizetype start)
{
    start = qBound<qsizetype>(0, start, m_text.size());
    m_anchor = m_caret = start;
    ensureCaretVisible();
    restartBlink();
    repaintSoon();
}

void ByteLineEdit::repaintSoon()
{
    // Nothing to draw for a box no one can see; it paints when shown.
    if (!isVisible())
        return;
    // Only the cells change: the frame around them stays as it is. The first
    // change after a quiet frame is drawn at once, the rest of the frame's
    // once at its end, and still only the cells (holding back the widget's
    // updates instead would repaint all of it, frame included, when they
    // came back on). The cells are painted there and then rather than at
    // the event loop's next turn: a posted update would wake the loop once
    // more for every frame of a steady stream.
    // A frame whose bytes more than fill the row replaces all of it, faster
    // than anyone reads: such a row is drawn every other frame.
    const qsizetype cells = textRect().width() / qMax(1, m_cellWidth);
    const int everyFrames = m_text.size() - m_paintedLength > cells ? 2 : 1;
    RepaintThrottle::Coalesce(
        this,
        [this] {
            m_paintedLength = m_text.size();
            repaint(textRect());
        },
        everyFrames);
}

qsizetype ByteLineEdit::SelLength() const
{
    return selectionEnd() - SelStart();
}

void ByteLineEdit::setSelLength(qsizetype length)
{
    const qsizetype start = SelStart();
    m_anchor = start;
    m_caret = start + qBound<qsizetype>(0, length, m_text.size() - start);
    ensureCaretVisible();
    restartBlink();
    update();
}

QByteArray ByteLineEdit::SelText() const
{
    return m_text.mid(SelStart(), SelLength());
}

void ByteLineEdit::setSelText(QByteArrayView bytes)
{
    replaceSelection(bytes, false);
}

void ByteLineEdit::setLocked(bool locked)
{
    if (m_locked == locked)
        return;
    m_locked = locked;
    m_textRectSize = QSize();
    update();
}

void ByteLineEdit::selectAll()
{
    m_anchor = 0;
    m_caret = m_text.size();
    ensureCaretVisible();
    restartBlink();
    update();
}

QSize ByteLineEdit::sizeHint() const
{
    QStyleOptionFrame option;
    initPanelOption(this, m_locked, &option);
    const int height = qMax(m_lineHeight, 14) + 2 * kVerticalMargin;
    const QSize contents(m_cellWidth * 17 + 2 * kHorizontalMargin, height);
    const QSize styled = style()->sizeFromContents(QStyle::CT_LineEdit, &option, contents, this);
    return QSize(433, qMax(25, styled.height()));
}

QSize ByteLineEdit::minimumSizeHint() const
{
    QStyleOptionFrame option;
    initPanelOption(this, m_locked, &option);
    const QSize contents(m_cellWidth * 4 + 2 * kHorizontalMargin, m_lineHeight + 2 * kVerticalMargin);
    return style()->sizeFromContents(QStyle::CT_LineEdit, &option, contents, this);
}

// ------------------------------------------------------------- geometry

QRect ByteLineEdit::textRect() const
{
    // Asked for on every append and caret move, so kept until the size or
    // the style changes.
    if (m_textRectSize != size()) {
        QStyleOptionFrame option;
        initPanelOption(this, m_locked, &option);
        const QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
        m_textRect = contents.adjusted(kHorizontalMargin, kVerticalMargin, -kHorizontalMargin, -kVerticalMargin);
        m_textRectSize = size();
    }
    return m_textRect;
}

namespace {

// Glyph tables by font, shared by every box in that font.
std::shared_ptr<const ByteLineEdit::GlyphTable> glyphTableFor(const QFont &font, int cellWidth)
{
    // Never destroyed, only emptied when the application goes, while the
    // font system still exists for the fonts it holds to be released.
    using Tables = QHash<QString, std::shared_ptr<const ByteLineEdit::GlyphTable>>;
    static Tables *const tables = [] {
        qAddPostRoutine([] { tables->clear(); });
        return new Tables;
    }();
    const QString key = font.key() + u'/' + QString::number(cellWidth);
    if (const auto found = tables->constFind(key); found != tables->cend())
        return *found;

    auto table = std::make_shared<ByteLineEdit::GlyphTable>();
    const QFontMetricsF fmf(font);
    for (int b = 0; b < 256; ++b) {
        const QString glyph(QChar(Cp437Glyph(static_cast<unsigned char>(b))));
        auto &cell = table->cells[b];
        // A glyph that comes from a fallback font may be wider or narrower
        // than the cell; centring it keeps it inside its own cell.
        cell.offset = (cellWidth - fmf.horizontalAdvance(glyph)) / 2.0;
        if (glyph.at(0).isSpace())
            continue;
        // The layout picks the font that has the glyph, a fallback included.
        QTextLayout layout(glyph, font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        const QList<QGlyphRun> runs = layout.glyphRuns();
        if (runs.size() != 1 || runs.first().glyphIndexes().size() != 1)
            continue;
        const QRawFont raw = runs.first().rawFont();
        qsizetype fontIndex = table->fonts.indexOf(raw);
        if (fontIndex < 0) {
            fontIndex = table->fonts.size();
            table->fonts.append(raw);
        }
        cell.font = int(fontIndex);
        cell.index = runs.first().glyphIndexes().first();
    }
    tables->insert(key, table);
    return table;
}

} // namespace

void ByteLineEdit::updateMetrics()
{
    const QFontMetrics fm(font());
    m_cellWidth = qMax(1, fm.horizontalAdvance(QLatin1Char('0')));
    m_ascent = fm.ascent();
    m_lineHeight = fm.height();
    m_glyphs = glyphTableFor(font(), m_cellWidth);
}

qsizetype ByteLineEdit::positionAt(int x) const
{
    const int offset = x - textRect().left();
    // Nearest boundary: a click on the right half of a cell puts the caret
    // after it, as in any line edit.
    const qsizetype cells
        = offset >= 0 ? (offset + m_cellWidth / 2) / m_cellWidth : -((-offset + m_cellWidth / 2) / m_cellWidth);
    return qBound<qsizetype>(0, m_scroll + cells, m_text.size());
}

qsizetype ByteLineEdit::cellAt(int x) const
{
    const int offset = x - textRect().left();
    const qsizetype cells = offset >= 0 ? offset / m_cellWidth : -1;
    return qBound<qsizetype>(0, m_scroll + cells, qMax<qsizetype>(0, m_text.size() - 1));
}

void ByteLineEdit::ensureCaretVisible()
{
    const QRect r = textRect();
    // Cells that fit with room for the caret after the last of them.
    const qsizetype fit = qMax(0, r.width() - 1) / m_cellWidth;
    const qsizetype length = m_text.size();
    if (m_caret < m_scroll)
        m_scroll = m_caret;
    else if (m_caret > m_scroll + fit)
        m_scroll = m_caret - fit;
    // Never leave blank space on the right while text is hidden on the left.
    if (length - m_scroll < fit)
        m_scroll = qMax<qsizetype>(0, length - fit);
}

// ------------------------------------------------------------- caret, words

void ByteLineEdit::moveCaret(qsizetype position, bool extend)
{
    m_caret = qBound<qsizetype>(0, position, m_text.size());
    if (!extend)
        m_anchor = m_caret;
    ensureCaretVisible();
    restartBlink();
    update();
}

qsizetype ByteLineEdit::wordStartBefore(qsizetype position) const
{
    if (position <= 0)
        return 0;
    qsizetype i = position - 1;
    while (i > 0 && classAt(m_text, i) == Space)
        --i;
    const CharClass c = classAt(m_text, i);
    if (c == Space)
        return 0;
    while (i > 0 && classAt(m_text, i - 1) == c)
        --i;
    return i;
}

qsizetype ByteLineEdit::nextWordStart(qsizetype position) const
{
    const qsizetype length = m_text.size();
    if (position >= length)
        return length;
    qsizetype i = position;
    const CharClass c = classAt(m_text, i);
    if (c != Space) {
        while (i < length && classAt(m_text, i) == c)
            ++i;
    }
    while (i < length && classAt(m_text, i) == Space)
        ++i;
    return i;
}

void ByteLineEdit::selectWordAt(qsizetype cell)
{
    const qsizetype length = m_text.size();
    if (length == 0)
        return;
    cell = qBound<qsizetype>(0, cell, length - 1);
    const CharClass c = classAt(m_text, cell);
    qsizetype start = cell;
    while (start > 0 && classAt(m_text, start - 1) == c)
        --start;
    qsizetype end = cell + 1;
    while (end < length && classAt(m_text, end) == c)
        ++end;
    m_anchor = start;
    m_caret = end;
    ensureCaretVisible();
    restartBlink();
    update();
}

// ------------------------------------------------------------- editing

void ByteLineEdit::replaceSelection(QByteArrayView bytes, bool byUser)
{
    const qsizetype start = SelStart();
    const qsizetype length = SelLength();
    m_text.replace(start, length, bytes);
    m_anchor = m_caret = start + bytes.size();
    ensureCaretVisible();
    restartBlink();
    update();
    if (byUser)
        emit textEdited();
}

void ByteLineEdit::removeRange(qsizetype from, qsizetype to)
{
    from = qBound<qsizetype>(0, from, m_text.size());
    to = qBound<qsizetype>(from, to, m_text.size());
    if (from == to)
        return;
    m_text.remove(from, to - from);
    m_anchor = m_caret = from;
    ensureCaretVisible();
    restartBlink();
    update();
    emit textEdited();
}

void ByteLineEdit::copyToClipboard() const
{
    // An empty selection leaves the clipboard as it was.
    if (!hasSelection())
        return;
    QApplication::clipboard()->setText(QString::fromLatin1(DisplayText(SelText())));
}

void ByteLineEdit::pasteFromClipboard()
{
    const QString text = QApplication::clipboard()->text();
    if (text.isEmpty())
        return;
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() == 0)
            bytes.append(' ');
        else if (c.unicode() <= 0xFF)
            bytes.append(static_cast<char>(c.unicode()));
    }
    replaceSelection(bytes, true);
}

// ------------------------------------------------------------- keyboard

void ByteLineEdit::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers mods = editModifiers(event);
    const bool shift = mods & Qt::ShiftModifier;
    const bool ctrl = mods & Qt::ControlModifier;
    const bool navigation = !(mods & Qt::AltModifier);

    switch (event->key()) {
    case Qt::Key_Left:
        if (!navigation)
            break;
        if (ctrl)
            moveCaret(wordStartBefore(m_caret), shift);
        else if (!shift && hasSelection())
            moveCaret(SelStart(), false);
        else
            moveCaret(m_caret - 1, shift);
        event->accept();
        return;
    case Qt::Key_Right:
        if (!navigation)
            break;
        if (ctrl)
            moveCaret(nextWordStart(m_caret), shift);
        else if (!shift && hasSelection())
            moveCaret(selectionEnd(), false);
        else
            moveCaret(m_caret + 1, shift);
        event->accept();
        return;
    case Qt::Key_Home:
        if (!navigation)
            break;
        moveCaret(0, shift);
        event->accept();
        return;
    case Qt::Key_End:
        if (!navigation)
            break;
        moveCaret(m_text.size(), shift);
        event->accept();
        return;
    case Qt::Key_Backspace:
        // With any modifiers: the character message a Backspace produces is
        // the same whatever is held.
        if (!m_locked) {
            if (hasSelection())
                replaceSelection(QByteArray(), true);
            else
                removeRange(m_caret - 1, m_caret);
        }
        event->accept();
        return;
    case Qt::Key_Delete:
        if (!m_locked) {
            if (mods == Qt::ShiftModifier) {
                if (hasSelection()) {
                    copyToClipboard();
                    replaceSelection(QByteArray(), true);
                } else {
                    removeRange(m_caret - 1, m_caret);
                }
            } else if (mods == Qt::ControlModifier && !hasSelection()) {
                removeRange(m_caret, m_text.size());
            } else if (hasSelection()) {
                replaceSelection(QByteArray(), true);
            } else {
                removeRange(m_caret, m_caret + 1);
            }
        }
        event->accept();
        return;
    case Qt::Key_Insert:
        if (mods == Qt::ControlModifier) {
            copyToClipboard();
            event->accept();
            return;
        }
        if (mods == Qt::ShiftModifier) {
            if (!m_locked)
                pasteFromClipboard();
            event->accept();
            return;
        }
        break;
    case Qt::Key_A:
    case Qt::Key_C:
    case Qt::Key_X:
    case Qt::Key_V:
        if (mods != Qt::ControlModifier)
            break;
        if (event->key() == Qt::Key_A) {
            selectAll();
        } else if (event->key() == Qt::Key_C) {
            copyToClipboard();
        } else if (event->key() == Qt::Key_X) {
            if (!m_locked && hasSelection()) {
                copyToClipboard();
                replaceSelection(QByteArray(), true);
            }
        } else if (!m_locked) {
            pasteFromClipboard();
        }
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        // Left to the dialog or window: default button, cancel, focus chain.
        event->ignore();
        return;
    default:
        break;
    }

    // With Ctrl or Alt held a key is a command, not typing (it may be a
    // window shortcut or a menu mnemonic), so it types nothing and goes on.
    const QString text = event->text();
    if (text.isEmpty() || (mods & (Qt::ControlModifier | Qt::AltModifier))) {
        event->ignore();
        return;
    }
    // A key with text is consumed even when it types nothing (a control
    // character, or one without a byte), so it never reaches the window.
    const QByteArray bytes = typedBytes(text);
    if (!bytes.isEmpty() && !m_locked)
        replaceSelection(bytes, true);
    event->accept();
}

bool ByteLineEdit::event(QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        // Keys the box uses itself win over window shortcuts while it has
        // the focus, as in a stock line edit.
        auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers mods = editModifiers(key);
        bool mine = false;
        switch (key->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Home:
        case Qt::Key_End:
            mine = !(mods & Qt::AltModifier);
            break;
        case Qt::Key_Backspace:
        case Qt::Key_Delete:
            mine = !(mods & Qt::AltModifier);
            break;
        case Qt::Key_Insert:
            mine = mods == Qt::ControlModifier || mods == Qt::ShiftModifier;
            break;
        case Qt::Key_A:
        case Qt::Key_C:
        case Qt::Key_X:
        case Qt::Key_V:
            mine = mods == Qt::ControlModifier;
            break;
        default:
            mine = !(mods & (Qt::ControlModifier | Qt::AltModifier)) && !key->text().isEmpty()
                   && key->text().at(0).unicode() >= 0x20;
            break;
        }
        if (mine) {
            event->accept();
            return true;
        }
    }
    return QWidget::event(event);
}

// ------------------------------------------------------------- mouse

void ByteLineEdit::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        // No middle-click paste: every change of the text goes through keys
        // or the API, where a pane can follow it.
        event->ignore();
        return;
    }
    const QPoint pos = event->position().toPoint();
    if (m_lastDoubleClick != 0 && qint64(event->timestamp()) - m_lastDoubleClick < QApplication::doubleClickInterval()
        && (pos - m_doubleClickPos).manhattanLength() < QApplication::startDragDistance()) {
        m_lastDoubleClick = 0;
        m_dragging = false;
        selectAll();
        return;
    }
    moveCaret(positionAt(pos.x()), event->modifiers() & Qt::ShiftModifier);
    m_dragging = true;
}

void ByteLineEdit::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging || !(event->buttons() & Qt::LeftButton)) {
        event->ignore();
        return;
    }
    moveCaret(positionAt(event->position().toPoint().x()), true);
}

void ByteLineEdit::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
    else
        event->ignore();
}

void ByteLineEdit::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    m_dragging = false;
    m_lastDoubleClick = qMax<qint64>(1, qint64(event->timestamp()));
    m_doubleClickPos = event->position().toPoint();
    selectWordAt(cellAt(m_doubleClickPos.x()));
}

// ------------------------------------------------------------- focus, caret

void ByteLineEdit::restartBlink()
{
    if (m_blinkTimer != 0) {
        killTimer(m_blinkTimer);
        m_blinkTimer = 0;
    }
    m_caretOn = hasFocus();
    if (!m_caretOn)
        return;
    const int flash = QApplication::cursorFlashTime();
    if (flash >= 2)
        m_blinkTimer = startTimer(flash / 2);
}

void ByteLineEdit::focusInEvent(QFocusEvent *event)
{
    restartBlink();
    update();
    QWidget::focusInEvent(event);
}

void ByteLineEdit::focusOutEvent(QFocusEvent *event)
{
    // The selection stays: a pane's context menu and the dialogs it opens
    // take the focus and still act on it.
    restartBlink();
    m_dragging = false;
    update();
    QWidget::focusOutEvent(event);
}

void ByteLineEdit::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_blinkTimer) {
        QWidget::timerEvent(event);
        return;
    }
    m_caretOn = !m_caretOn;
    const QRect r = textRect();
    const int x = r.left() + int(m_caret - m_scroll) * m_cellWidth;
    update(QRect(x - 1, r.top(), 3, r.height()));
}

void ByteLineEdit::resizeEvent(QResizeEvent *event)
{
    ensureCaretVisible();
    QWidget::resizeEvent(event);
}

void ByteLineEdit::changeEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::StyleChange:
        m_textRectSize = QSize();
        updateMetrics();
        ensureCaretVisible();
        updateGeometry();
        update();
        break;
    case QEvent::EnabledChange:
    case QEvent::PaletteChange:
    case QEvent::ActivationChange:
        update();
        break;
    default:
        break;
    }
    QWidget::changeEvent(event);
}

// ------------------------------------------------------------- painting

void ByteLineEdit::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QRect r = textRect();
    // A repaint of the cells alone (received data) needs only the panel's
    // inside, which is its base colour; the styled frame is drawn when it
    // is part of what needs painting.
    if (r.contains(event->rect())) {
        painter.fillRect(event->rect(), palette().brush(QPalette::Base));
    } else {
        // The panel's rounded corners show the window behind it, painted
        // here: the box paints every pixel of its own, so that a repaint of
        // its cells leaves the window behind it alone.
        painter.fillRect(event->rect(), palette().brush(QPalette::Window));
        QStyleOptionFrame panel;
        initPanelOption(this, m_locked, &panel);
        style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
    }

    painter.setClipRect(r);
    painter.setFont(font());
    const QPalette &pal = palette();

    // Only the cells in view are looked at, whatever the text's length.
    const qsizetype length = m_text.size();
    const qsizetype first = qMin(m_scroll, length);
    const qsizetype count = qMin<qsizetype>(length - first, r.width() / m_cellWidth + 2);
    // The cells in view, read once from the store.
    QVarLengthArray<char, 256> cells(count);
    m_text.read(first, count, cells.data());
    const int top = r.top() + (r.height() - m_lineHeight + 1) / 2;
    const int baseline = top + m_ascent;

    const qsizetype selFrom = qMax(SelStart(), first);
    const qsizetype selTo = qMin(selectionEnd(), first + count);
    if (selTo > selFrom) {
        painter.fillRect(
            QRect(r.left() + int(selFrom - first) * m_cellWidth, top, int(selTo - selFrom) * m_cellWidth, m_lineHeight),
            pal.brush(QPalette::Highlight));
    }

    // One glyph per cell, each placed at its own cell: a glyph from a
    // fallback font can never push the cells after it out of line. The cells
    // are drawn as one glyph run per font and colour.
    const QColor textColor = pal.color(QPalette::Text);
    const QColor selectedColor = pal.color(QPalette::HighlightedText);
    QVarLengthArray<quint32, 128> indexes;
    QVarLengthArray<QPointF, 128> positions;
    const GlyphTable &glyphs = *m_glyphs;
    for (int selected = 0; selected < 2; ++selected) {
        painter.setPen(selected ? selectedColor : textColor);
        for (qsizetype f = 0; f < glyphs.fonts.size(); ++f) {
            indexes.clear();
            positions.clear();
            for (qsizetype i = 0; i < count; ++i) {
                const qsizetype position = first + i;
                if ((position >= selFrom && position < selTo) != bool(selected))
                    continue;
                const unsigned char byte = static_cast<unsigned char>(cells[i]);
                const GlyphTable::Cell &cell = glyphs.cells[byte];
                if (cell.font != f)
                    continue;
                indexes.append(cell.index);
                positions.append(QPointF(r.left() + int(i) * m_cellWidth + cell.offset, baseline));
            }
            if (indexes.isEmpty())
                continue;
            QGlyphRun run;
            run.setRawFont(glyphs.fonts.at(f));
            run.setGlyphIndexes(QList<quint32>(indexes.cbegin(), indexes.cend()));
            run.setPositions(QList<QPointF>(positions.cbegin(), positions.cend()));
            painter.drawGlyphRun(QPointF(), run);
        }
    }

    // A read-only box shows no caret, like a read-only line edit.
    if (m_caretOn && hasFocus() && !m_locked && isEnabled() && m_caret >= first && m_caret <= first + count) {
        const int x = r.left() + int(m_caret - first) * m_cellWidth;
        painter.fillRect(QRect(x, top, 1, m_lineHeight), textColor);
    }
}
