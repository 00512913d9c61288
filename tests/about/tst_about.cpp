#include "dialogwatch.h"
#include "frmabout.h"

#include <QApplication>
#include <QDate>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

namespace {

bool writeFile(const QString &path, const QByteArray &content, QFile::Permissions permissions)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(content);
    file.close();
    return file.setPermissions(permissions);
}

constexpr QFile::Permissions Executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
constexpr QFile::Permissions NotExecutable = QFile::ReadOwner | QFile::WriteOwner;

} // namespace

// Receives the URL the link label opens, instead of a browser.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;
    QList<bool> busy;

public slots:
    void open(const QUrl &url)
    {
        urls << url;
        const QCursor *cursor = QApplication::overrideCursor();
        busy << (cursor && cursor->shape() == Qt::WaitCursor);
    }
};

class tst_About : public QObject
{
    Q_OBJECT

private slots:
    void labels();
    void closingKeys_data();
    void closingKeys();
    void linkOpensWebAddress();
    void sysInfo_data();
    void sysInfo();
};

void tst_About::labels()
{
    frmAbout about;
    QCOMPARE(about.windowTitle(), QStringLiteral("About Portlark"));
    QCOMPARE(about.lblTitle->text(), QStringLiteral("Portlark"));
    QCOMPARE(about.lblVersion->text(), QStringLiteral("Portlark  Version 1.0.0"));
    QCOMPARE(about.lblDisclaimer->text(), QString());
    QCOMPARE(about.cmdSysInfo->text(), QStringLiteral("&System Info..."));
    QCOMPARE(about.size(), QSize(377, 267));

    const QStringList lines = about.lblDescription->text().split(u'\n');
    QCOMPARE(lines.size(), 8);
    const QString year = QString::number(QDate::currentDate().year());
    const QString company = QString::fromUtf16(AppInfo::CompanyName);
    QVERIFY2(lines[0].endsWith(u'-' + year + QStringLiteral(", ") + company), qPrintable(lines[0]));
    QVERIFY(lines[1].isEmpty());
    QCOMPARE(lines[2], company);
    QVERIFY(lines[5].startsWith(QStringLiteral("Tel: ")));
    QVERIFY(lines[6].startsWith(QStringLiteral("Fax: ")));
    QVERIFY(lines[7].startsWith(QStringLiteral("email: ")));
    QVERIFY(!about.lblDescription->text().contains(u'\r'));

    QCOMPARE(about.Label4->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QVERIFY(about.Label4->font().underline());
    QCOMPARE(about.Label4->cursor().shape(), Qt::PointingHandCursor);
    QVERIFY(!about.picIcon->pixmap().isNull());
    QCOMPARE(about.picIcon->pixmap().size(), QSize(32, 32));
}

void tst_About::closingKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Enter") << int(Qt::Key_Return);
    QTest::newRow("Escape") << int(Qt::Key_Escape);
}

void tst_About::closingKeys()
{
    QFETCH(int, key);
    frmAbout about;
    bool closed = false;
    QTimer::singleShot(0, &about, [&] {
        QTest::keyClick(&about, Qt::Key(key));
        closed = !about.isVisible();
        if (!closed)
            about.done(-1);
    });
    about.exec();
    QVERIFY(closed);
}

void tst_About::linkOpensWebAddress()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
    frmAbout about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QTest::mouseClick(about.Label4, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));

    QCOMPARE(catcher.urls, QList<QUrl>{QUrl(QString::fromUtf16(AppInfo::WebUrl))});
    QCOMPARE(catcher.busy, QList<bool>{true});
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

void tst_About::sysInfo_data()
{
    QTest::addColumn<QString>("setup"); // what is on the fake PATH
    QTest::addColumn<bool>("started");

    QTest::newRow("first program found") << "script" << true;
    QTest::newRow("found in a later directory of the path") << "later-dir" << true;
    QTest::newRow("none found") << "nothing" << false;
    QTest::newRow("found but cannot start") << "not-executable" << false;
    QTest::newRow("a directory of the name is not a program") << "directory" << false;
}

void tst_About::sysInfo()
{
    QFETCH(QString, setup);
    QFETCH(bool, started);

    QTemporaryDir first, second;
    QVERIFY(first.isValid() && second.isValid());
    const QString marker = first.filePath(QStringLiteral("started.marker"));
    const QByteArray script = "#!/bin/sh\necho started > '" + marker.toUtf8() + "'\n";
    if (setup == QLatin1String("script"))
        QVERIFY(writeFile(first.filePath(QStringLiteral("hardinfo2")), script, Executable));
    else if (setup == QLatin1String("later-dir"))
        QVERIFY(writeFile(second.filePath(QStringLiteral("sysinfo-tool")), script, Executable));
    else if (setup == QLatin1String("not-executable"))
        QVERIFY(writeFile(first.filePath(QStringLiteral("hardinfo2")), script, NotExecutable));
    else if (setup == QLatin1String("directory"))
        QVERIFY(QDir(first.path()).mkdir(QStringLiteral("hardinfo2")));

    frmAbout about;
    about.sysInfoPrograms
        = {QStringLiteral("kinfocenter-missing"), QStringLiteral("hardinfo2"), QStringLiteral("sysinfo-tool")};
    about.sysInfoSearchPath = first.path() + u':' + second.path();

    MessageBoxLog boxes;
    const bool result = about.StartSysInfo();
    QCOMPARE(result, started);
    if (started) {
        QVERIFY(boxes.boxes.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 20000);
    } else {
        QCOMPARE(boxes.boxes.size(), 1);
        QCOMPARE(boxes.boxes.first().text, QStringLiteral("System Information Is Unavailable At This Time"));
        QCOMPARE(boxes.boxes.first().title, QStringLiteral("Portlark"));
        QCOMPARE(boxes.boxes.first().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(!QFile::exists(marker));
    }
}

QTEST_MAIN(tst_About)
#include "tst_about.moc"
