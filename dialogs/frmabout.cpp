#include "frmabout.h"

#include "portlarkicon.h"

#include <QApplication>
#include <QDate>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QUrl>

namespace {

int px(int twips)
{
    return qRound(twips / 15.0);
}

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

// A separator cut into the dialog face: a grey line above a white one.
class EtchedLine : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(0, 0, width(), 2, QColor(255, 255, 255));
        p.fillRect(0, 0, width() - 1, 1, QColor(128, 128, 128));
    }
};

} // namespace

frmAbout::frmAbout(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Portlark"));
    setWindowIcon(PortlarkIcon());
    setFixedSize(px(5655), px(4005));

    QFont font = QApplication::font();
    font.setPointSizeF(8.25);
    setFont(font);

    QPalette blackText = palette();
    blackText.setColor(QPalette::WindowText, Qt::black);

    picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    picIcon->setGeometry(twipsRect(240, 120, 540, 540));
    picIcon->setPixmap(PortlarkIconPixmap(32));
    picIcon->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    lblTitle = new QLabel(this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblTitle->setGeometry(twipsRect(1050, 120, 3885, 240));
    lblTitle->setPalette(blackText);

    lblVersion = new QLabel(this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblVersion->setGeometry(twipsRect(1050, 360, 3885, 225));

    lblDescription = new QLabel(this);
    lblDescription->setObjectName(QStringLiteral("lblDescription"));
    lblDescription->setGeometry(twipsRect(1050, 600, 3885, 1650));
    lblDescription->setPalette(blackText);
    lblDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblDescription->setTextFormat(Qt::PlainText);

    Label4 = new QLabel(QString::fromUtf16(AppInfo::WebAddress), this);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->setGeometry(twipsRect(1050, 2280, 2040, 195));
    QPalette blue = palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 255)); // 16711680 with red in the low byte
    Label4->setPalette(blue);
    QFont linkFont = font;
    linkFont.setBold(true);
    linkFont.setUnderline(true);
    Label4->setFont(linkFont);
    Label4->setCursor(Qt::PointingHandCursor);
    Label4->installEventFilter(this);

    Line1 = new EtchedLine(this);
    Line1->setObjectName(QStringLiteral("Line1"));
    Line1->setGeometry(px(240), px(2640), px(5465) - px(240) + 1, 2);

    lblDisclaimer = new QLabel(QString(), this);
    lblDisclaimer->setObjectName(QStringLiteral("lblDisclaimer"));
    lblDisclaimer->setGeometry(twipsRect(255, 2745, 3870, 1125));
    lblDisclaimer->setPalette(blackText);
    lblDisclaimer->setWordWrap(true);
    lblDisclaimer->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(twipsRect(4245, 2745, 1260, 345));
    cmdOK->setDefault(true);

    cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    cmdSysInfo->setGeometry(twipsRect(4260, 3195, 1245, 345));

    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
    setTabOrder(cmdOK, cmdSysInfo);
    cmdOK->setFocus();

    Form_Load();
}

void frmAbout::Form_Load()
{
    const QString company = QString::fromUtf16(AppInfo::CompanyName);
    lblTitle->setText(QString::fromUtf16(AppInfo::Title));
    // A label breaks lines at "\n" only; a lone carriage return would show as
    // nothing and run the lines together.
    const QStringList lines{
        QStringLiteral("Copyright \u00A9 2019-%1, %2")
            .arg(QDate::currentDate().year(), 4, 10, QLatin1Char('0'))
            .arg(company),
        QString(),
        company,
        QStringLiteral("4100 Meridian Park Drive, Suite 210"),
        QStringLiteral("Beaverton, OR 97006"),
        QStringLiteral("Tel: (555) 014-2270 / (555) 014-2271"),
        QStringLiteral("Fax: (555) 014-2279"),
        QStringLiteral("email: sales@nerova.example"),
    };
    lblDescription->setText(lines.join(u'\n'));
    lblVersion->setText(QStringLiteral("%1  Version %2.%3.%4")
                            .arg(QString::fromUtf16(AppInfo::Title))
                            .arg(AppInfo::Major)
                            .arg(AppInfo::Minor)
                            .arg(AppInfo::Revision));
}

void frmAbout::cmdOK_Click()
{
    accept();
}

void frmAbout::cmdSysInfo_Click()
{
    StartSysInfo();
}

void frmAbout::Label4_Click()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QDesktopServices::openUrl(QUrl(QString::fromUtf16(AppInfo::WebUrl)));
    QApplication::restoreOverrideCursor();
}

QStringList frmAbout::defaultSysInfoPrograms()
{
    // KDE's and the GTK desktops' hardware and system overviews.
    return {QStringLiteral("kinfocenter"), QStringLiteral("hardinfo2"),   QStringLiteral("hardinfo"),
            QStringLiteral("lshw-gtk"),    QStringLiteral("xfce4-about"), QStringLiteral("mate-system-info")};
}

QString frmAbout::findSysInfoProgram() const
{
    const QString path = sysInfoSearchPath.isEmpty() ? qEnvironmentVariable("PATH") : sysInfoSearchPath;
    const QStringList dirs = path.split(QDir::listSeparator(), Qt::SkipEmptyParts);
    for (const QString &program : sysInfoPrograms) {
        for (const QString &dir : dirs) {
            // Any file of the name counts as found; one that cannot be run is
            // reported like a missing one when starting it fails.
            const QFileInfo file(QDir(dir), program);
            if (file.isFile())
                return file.absoluteFilePath();
        }
    }
    return {};
}

bool frmAbout::StartSysInfo()
{
    const QString program = findSysInfoProgram();
    if (!program.isEmpty() && QProcess::startDetached(program, {}))
        return true;
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf16(AppInfo::Title),
                    QString::fromUtf16(AppInfo::SysInfoUnavailable), QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("SysInfoUnavailableBox"));
    box.exec();
    return false;
}

bool frmAbout::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Label4 && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton
        && Label4->rect().contains(static_cast<QMouseEvent *>(event)->position().toPoint())) {
        Label4_Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
