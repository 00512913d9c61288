#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QTextBrowser;

// The program's help viewer: one non-modal window, reused for every request,
// that shows the HTML help file Portlark.Hlp at its index or its contents.
// It stays usable while a modal dialog is open (it is made a transient of the
// window that asked for it) and reports a missing help file itself, inside
// the window, as a help viewer would.
class HelpWindow : public QWidget
{
    Q_OBJECT

public:
    enum class Topic { Index, Contents };

    // The one help window, made on first use.
    static HelpWindow *instance();

    // The help file's name and where it is looked for: beside the executable,
    // in ../share/portlark from it (an installed program), then in the
    // current directory.
    static QString fileName();
    static QStringList searchDirectories();
    // The first existing Portlark.Hlp, or an empty text.
    static QString findHelpFile();

    // Shows the window over `owner` at `topic`; returns false (after showing
    // the message in the window) when there is no help file.
    bool showTopic(Topic topic, QWidget *owner);

    QTextBrowser *browser() const { return m_browser; }
    // The file shown, empty when the last request found none.
    QString currentFile() const { return m_file; }

private:
    explicit HelpWindow(QWidget *parent = nullptr);
    void showMissingFile();

    QTextBrowser *m_browser = nullptr;
    QString m_file;
};

// Help > Index and the settings dialog's Help button. The outcome is left to
// the help window; callers go on as before.
void ShowHelpIndex(QWidget *owner);
void ShowHelpContents(QWidget *owner);

// The anchors of the two topics in the help file.
inline constexpr char16_t HelpIndexAnchor[] = u"index";
inline constexpr char16_t HelpContentsAnchor[] = u"contents";
