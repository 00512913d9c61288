#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QLabel;
class QPushButton;
class QWidget;

// The About box: the program's name and version, the maker's notice and
// contact details, a link to the maker's web site, and a button that starts
// the desktop's system-information program.
class frmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit frmAbout(QWidget *parent = nullptr);

    QLabel *picIcon = nullptr;
    QLabel *lblTitle = nullptr;
    QLabel *lblVersion = nullptr;
    QLabel *lblDescription = nullptr;
    QLabel *Label4 = nullptr;
    QWidget *Line1 = nullptr; // the etched separator (a grey line over a white one)
    QLabel *lblDisclaimer = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdSysInfo = nullptr;

    void Form_Load();
    void cmdOK_Click();
    void cmdSysInfo_Click();
    void Label4_Click();

    // Starts the first system-information program found on the search path,
    // detached. Shows "System Information Is Unavailable At This Time" when
    // none is found or the one found does not start; returns whether one
    // started.
    bool StartSysInfo();

    // What StartSysInfo looks for, in order, and where: the directories of
    // `searchPath` (colon-separated; empty means $PATH).
    static QStringList defaultSysInfoPrograms();
    QStringList sysInfoPrograms = defaultSysInfoPrograms();
    QString sysInfoSearchPath;
    // The program StartSysInfo would start, or an empty text.
    QString findSysInfoProgram() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

// The program's identity and the maker's details shown in the About box.
namespace AppInfo {
inline constexpr char16_t Title[] = u"Portlark";
inline constexpr int Major = 1;
inline constexpr int Minor = 0;
inline constexpr int Revision = 0;
inline constexpr char16_t CompanyName[] = u"Nerova Instruments";
inline constexpr char16_t WebAddress[] = u"www.nerova.example";
inline constexpr char16_t WebUrl[] = u"http://www.nerova.example/";
inline constexpr char16_t SysInfoUnavailable[] = u"System Information Is Unavailable At This Time";
} // namespace AppInfo
