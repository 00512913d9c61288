// The help file and the README against the program: the settings they
// describe load as they say, the README's example file is the file the
// program writes, and the help's key table holds the keys a pane knows.

#include "bytelineedit.h"
#include "fakeserialportcontrol.h"
#include "mainform.h"
#include "modestring.h"
#include "portcombobox.h"
#include "settingsstore.h"
#include "terminalfixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

namespace {

QString readSource(const char *relative)
{
    QFile f(QStringLiteral(PORTLARK_SOURCE_DIR "/") + QLatin1String(relative));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Prose as one line, without tags, so a sentence reads the same wherever
// its lines break.
QString flat(QString text)
{
    text.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    return text.simplified();
}

// The help's settings table: key -> (meaning, default).
QMap<QString, QPair<QString, QString>> helpSettingsTable(const QString &help)
{
    QMap<QString, QPair<QString, QString>> rows;
    static const QRegularExpression row(
        QStringLiteral("<tr><td>\\[Settings\\]</td><td>(\\w+)</td><td>(.*?)</td><td>(.*?)</td></tr>"));
    for (auto it = row.globalMatch(help); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        rows.insert(m.captured(1), {flat(m.captured(2)), m.captured(3)});
    }
    return rows;
}

// The value a key has after start-up reads `text` for it.
int loaded(const QString &key, const QString &text)
{
    FakeTerminal t(QStringLiteral("[Settings]\n%1=%2\n").arg(key, text).toUtf8());
    t.form->Form_Load();
    auto box = [](const QCheckBox *b) {
        return b->checkState() == Qt::Checked ? 1 : b->checkState() == Qt::PartiallyChecked ? 2 : 0;
    };
    if (key == QLatin1String("DTREnable"))
        return box(t.form->chkDTR);
    if (key == QLatin1String("RTSEnable"))
        return box(t.form->chkRTS);
    if (key == QLatin1String("Handshake"))
        return HandshakeMode;
    return t.form->Combo2->currentIndex();
}

} // namespace

class tst_Docs : public QObject
{
    Q_OBJECT

private slots:
    void init() { HandshakeMode = 0; }
    void numbersLoadAsDescribed_data();
    void numbersLoadAsDescribed();
    void readmeExampleIsWhatTheProgramWrites();
    void helpKeyTableHasSelectAll();
};

void tst_Docs::numbersLoadAsDescribed_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QList<int>>("values"); // what the help's table lists
    QTest::addColumn<QString>("outOfRange");
    QTest::newRow("DTREnable") << "DTREnable" << QList<int>{0, 1, 2} << "7";
    QTest::newRow("RTSEnable") << "RTSEnable" << QList<int>{0, 1, 2} << "-1";
    QTest::newRow("Handshake") << "Handshake" << QList<int>{0, 1, 2, 3} << "99999999999";
    QTest::newRow("CommPort") << "CommPort" << QList<int>{0, 1, 32, -1} << "33";
}

void tst_Docs::numbersLoadAsDescribed()
{
    QFETCH(QString, key);
    QFETCH(QList<int>, values);
    QFETCH(QString, outOfRange);

    const QString help = readSource("dialogs/Portlark.Hlp");
    const QString readme = flat(readSource("README.md"));
    QVERIFY(!help.isEmpty() && !readme.isEmpty());
    const auto table = helpSettingsTable(help);
    QVERIFY2(table.contains(key), qPrintable(key));
    const QString meaning = table[key].first;
    const int byDefault = table[key].second.toInt();

    // Every value the help lists loads as itself, and README lists it too.
    for (const int v : values) {
        QVERIFY2(QRegularExpression(QStringLiteral("(^|\\D)%1\\b").arg(v)).match(meaning).hasMatch(),
                 qPrintable(meaning + QStringLiteral(" lacks %1").arg(v)));
        QCOMPARE(loaded(key, QString::number(v)), v);
    }
    if (key == QLatin1String("DTREnable"))
        QVERIFY2(meaning.contains(QLatin1String("2 grayed")) && readme.contains(QLatin1String("2 grayed")),
                 qPrintable(meaning));

    // What both texts say about numbers that are not usable is what happens.
    const QString textRule = QStringLiteral("a text that does not start with a number reads as 0");
    const QString rangeRule = QStringLiteral("A number the key cannot take falls back to the key's default");
    for (const QString &doc : {flat(help), readme}) {
        QVERIFY2(doc.contains(textRule), qPrintable(textRule));
        QVERIFY2(doc.contains(rangeRule), qPrintable(rangeRule));
    }
    QCOMPARE(loaded(key, QStringLiteral("abc")), 0);
    QCOMPARE(loaded(key, outOfRange), byDefault);
}

void tst_Docs::readmeExampleIsWhatTheProgramWrites()
{
    const QString readme = readSource("README.md");
    static const QRegularExpression block(QStringLiteral("```ini\\n(.*?)```"),
                                          QRegularExpression::DotMatchesEverythingOption);
    const QString example = block.match(readme).captured(1);
    QVERIFY(example.contains(QLatin1String("[Settings]")));
    QVERIFY2(!example.contains(u';'), "the program drops comments when it rewrites the file");
    QVERIFY(flat(readme).contains(QLatin1String("the whole file is rewritten when the window closes")));

    FakeTerminal t(example.toUtf8());
    t.form->Form_Load();
    QVERIFY(t.form->close());
    QFile saved(t.path());
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QString written = QString::fromUtf8(saved.readAll());
    // The [Settings] section is written exactly as shown; the [Ports]
    // entries shown are kept (a machine may add its own present devices).
    const QStringList writtenSections = written.split(QStringLiteral("\n\n"), Qt::SkipEmptyParts);
    const QStringList shownSections = example.split(QStringLiteral("\n\n"), Qt::SkipEmptyParts);
    QCOMPARE(shownSections.size(), 2);
    for (const QString &section : shownSections) {
        if (section.startsWith(QLatin1String("[Settings]"))) {
            QVERIFY2(writtenSections.contains(section.trimmed() + u'\n') || writtenSections.contains(section.trimmed()),
                     qPrintable(written));
        } else {
            for (const QString &line : section.split(u'\n', Qt::SkipEmptyParts))
                QVERIFY2(written.contains(line + u'\n'), qPrintable(line));
        }
    }
}

void tst_Docs::helpKeyTableHasSelectAll()
{
    const QString help = readSource("dialogs/Portlark.Hlp");
    QVERIFY(help.contains(QLatin1String("<td><kbd>Ctrl+A</kbd></td><td>selects every byte in the pane")));
    FakeTerminal t;
    t.form->Form_Load();
    t.setOutput("abc");
    t.form->Text2->setSelStart(1);
    QTest::keyClick(t.form->Text2, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(t.form->Text2->SelStart(), 0);
    QCOMPARE(t.form->Text2->SelLength(), 3);
    QCOMPARE(t.output(), QByteArray("abc"));
}

QTEST_MAIN(tst_Docs)
#include "tst_docs.moc"
