#include "binarytextbox.h"

#include "bytelineedit.h"
#include "panewindowproc.h"

#include <QHash>
#include <QPointer>

namespace BinaryTextBox {

namespace {

// The module's tables, keyed by the pane's handle. Each key occurs at most
// once; adding a present key or touching a missing one is the caller's error.
template<typename Value>
class PaneTable
{
public:
    explicit PaneTable(const char *name)
        : m_name(name)
    {}

    void add(int key, Value value)
    {
        if (m_entries.contains(key))
            throw PaneError(message("already holds", key));
        m_entries.insert(key, std::move(value));
    }

    Value take(int key)
    {
        auto it = m_entries.find(key);
        if (it == m_entries.end())
            throw PaneError(message("has no", key));
        Value value = std::move(*it);
        m_entries.erase(it);
        return value;
    }

    Value &at(int key)
    {
        auto it = m_entries.find(key);
        if (it == m_entries.end())
            throw PaneError(message("has no", key));
        return *it;
    }

    bool contains(int key) const { return m_entries.contains(key); }

private:
    std::string message(const char *what, int key) const
    {
        return std::string(m_name) + " " + what + " entry for pane " + std::to_string(key);
    }

    const char *m_name;
    QHash<int, Value> m_entries;
};

// The installed filter stands where a replaced window procedure would be kept:
// removing it gives the box its own event handling back.
PaneTable<QPointer<PaneWindowProc>> &PanePrevProcs()
{
    static PaneTable<QPointer<PaneWindowProc>> table("PanePrevProcs");
    return table;
}

PaneTable<QPointer<ByteLineEdit>> &PaneControls()
{
    static PaneTable<QPointer<ByteLineEdit>> table("PaneControls");
    return table;
}

} // namespace

void AttachPane(ByteLineEdit *box)
{
    if (!box)
        throw PaneError("AttachPane: no box");
    const int h = box->hWnd();
    // Refuse before touching anything, so a second attach cannot leave a
    // second filter behind.
    if (PanePrevProcs().contains(h) || PaneControls().contains(h))
        throw PaneError("pane " + std::to_string(h) + " is already attached");

    auto *proc = new PaneWindowProc(box);
    box->installEventFilter(proc);
    PaneControls().add(h, box);
    PanePrevProcs().add(h, proc);
}

void DetachPane(ByteLineEdit *box)
{
    if (!box)
        throw PaneError("DetachPane: no box");
    const int h = box->hWnd();
    QPointer<PaneWindowProc> proc = PanePrevProcs().take(h);
    if (proc) {
        box->removeEventFilter(proc);
        // The pane may be detached from inside its own filter (a window closed
        // while the pane's menu was open), so the filter goes later.
        proc->deleteLater();
    }
    PaneControls().take(h);
}

namespace {
// The attached box of a handle; a box that has gone counts as detached.
ByteLineEdit &attachedBox(int handle)
{
    ByteLineEdit *box = PaneControls().at(handle).data();
    if (!box)
        throw PaneError("pane " + std::to_string(handle) + " has no box any more");
    return *box;
}
} // namespace

QByteArray GetPaneBytes(int handle)
{
    return attachedBox(handle).bytes().toByteArray();
}

const ByteStore &PaneStore(int handle)
{
    return attachedBox(handle).bytes();
}

void SetPaneBytes(int handle, QByteArrayView bytes)
{
    attachedBox(handle).setText(bytes);
}

void AppendPaneBytes(int handle, QByteArrayView bytes)
{
    attachedBox(handle).appendText(bytes);
}

bool IsAttached(int handle)
{
    return PaneControls().contains(handle);
}

ByteLineEdit *PaneControl(int handle)
{
    if (!PaneControls().contains(handle))
        return nullptr;
    return PaneControls().at(handle).data();
}

} // namespace BinaryTextBox
