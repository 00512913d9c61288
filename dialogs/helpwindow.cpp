#include "helpwindow.h"

#include "portlarkicon.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

HelpWindow::HelpWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Portlark Help"));
    setWindowIcon(PortlarkIcon());
    // Closing the terminal window ends the program even while help is shown.
    setAttribute(Qt::WA_QuitOnClose, false);
    m_browser = new QTextBrowser(this);
    m_browser->setOpenExternalLinks(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
    resize(620, 520);
}

HelpWindow *HelpWindow::instance()
{
    // Lives until the program ends; a user closing it only hides it.
    static QPointer<HelpWindow> window;
    if (!window)
        window = new HelpWindow;
    return window;
}

QString HelpWindow::fileName()
{
    return QStringLiteral("Portlark.Hlp");
}

QStringList HelpWindow::searchDirectories()
{
    // Beside the program in a build folder; share/portlark next to the bin/
    // folder it is installed in, whatever the prefix.
    const QString programDir = QCoreApplication::applicationDirPath();
    return {programDir, QDir::cleanPath(programDir + QStringLiteral("/../share/portlark")), QDir::currentPath()};
}

QString HelpWindow::findHelpFile()
{
    for (const QString &dir : searchDirectories()) {
        const QFileInfo file(QDir(dir), fileName());
        if (file.isFile() && file.isReadable())
            return file.absoluteFilePath();
    }
    return {};
}

void HelpWindow::showMissingFile()
{
    QStringList places;
    for (const QString &dir : searchDirectories())
        places << QStringLiteral("<li>%1</li>").arg(QDir::toNativeSeparators(dir).toHtmlEscaped());
    m_browser->setHtml(QStringLiteral("<h3>Cannot open the help file</h3>"
                                      "<p>The help file <b>%1</b> was not found. "
                                      "Portlark looks for it in these folders:</p><ul>%2</ul>")
                           .arg(fileName(), places.join(QString())));
}

bool HelpWindow::showTopic(Topic topic, QWidget *owner)
{
    m_file = findHelpFile();
    if (m_file.isEmpty()) {
        showMissingFile();
    } else {
        QUrl url = QUrl::fromLocalFile(m_file);
        url.setFragment(QString::fromUtf16(topic == Topic::Index ? HelpIndexAnchor : HelpContentsAnchor));
        // Reload every time so an edited help file shows; the name does not
        // say HTML, so the type is given.
        m_browser->clearHistory();
        m_browser->setSource(QUrl(), QTextDocument::HtmlResource);
        m_browser->setSource(url, QTextDocument::HtmlResource);
    }

    QWidget *ownerWindow = owner ? owner->window() : nullptr;
    if (!isVisible() && ownerWindow) {
        const QRect area = ownerWindow->screen()->availableGeometry();
        QPoint at = ownerWindow->frameGeometry().topLeft() + QPoint(40, 40);
        at.setX(qBound(area.left(), at.x(), qMax(area.left(), area.right() - width())));
        at.setY(qBound(area.top(), at.y(), qMax(area.top(), area.bottom() - height())));
        move(at);
    }
    // A modal dialog blocks every window that is not its own; as a transient
    // of the asking window the help stays usable while that dialog is open.
    create();
    if (QWindow *handle = windowHandle())
        handle->setTransientParent(ownerWindow ? ownerWindow->windowHandle() : nullptr);
    show();
    raise();
    activateWindow();
    return !m_file.isEmpty();
}

void ShowHelpIndex(QWidget *owner)
{
    HelpWindow::instance()->showTopic(HelpWindow::Topic::Index, owner);
}

void ShowHelpContents(QWidget *owner)
{
    HelpWindow::instance()->showTopic(HelpWindow::Topic::Contents, owner);
}
