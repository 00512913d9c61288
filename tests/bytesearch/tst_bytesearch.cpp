#include "bytepattern.h"
#include "patternmatcher.h"

#include <QRandomGenerator>
#include <QTest>

#include <utility>
#include <vector>

using namespace BytePatterns;

// Byte patterns as typed into a search box, and finding them in a stream that
// arrives in pieces of any size.
class tst_ByteSearch : public QObject
{
    Q_OBJECT

private slots:
    void parseHex_data();
    void parseHex();
    void parseHexErrors_data();
    void parseHexErrors();
    void textPattern();
    void matchesAcrossPieces_data();
    void matchesAcrossPieces();
    void randomPiecesAgreeWithWholeStream();
    void restartBreaksTheStream();
};

static QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

void tst_ByteSearch::parseHex_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("mask");
    QTest::addColumn<QString>("canonical");

    QTest::newRow("spaced with wildcard byte")
        << "7E ?? 00 0D" << bytes({0x7E, 0, 0, 0x0D}) << bytes({0xFF, 0, 0xFF, 0xFF}) << QStringLiteral("7E ?? 00 0D");
    QTest::newRow("run without spaces, lower case")
        << "7e??000d" << bytes({0x7E, 0, 0, 0x0D}) << bytes({0xFF, 0, 0xFF, 0xFF}) << QStringLiteral("7E ?? 00 0D");
    QTest::newRow("C array items") << "0x7E, 0X00,\n0xff" << bytes({0x7E, 0, 0xFF}) << bytes({0xFF, 0xFF, 0xFF})
                                   << QStringLiteral("7E 00 FF");
    QTest::newRow("nibble wildcards") << "7? ?E" << bytes({0x70, 0x0E}) << bytes({0xF0, 0x0F})
                                      << QStringLiteral("7? ?E");
    QTest::newRow("lone digit and lone wildcard")
        << "7 ? A" << bytes({0x07, 0, 0x0A}) << bytes({0xFF, 0, 0xFF}) << QStringLiteral("07 ?? 0A");
    QTest::newRow("every separator") << " \t01,\r\n02  " << bytes({1, 2}) << bytes({0xFF, 0xFF})
                                     << QStringLiteral("01 02");
}

void tst_ByteSearch::parseHex()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, mask);
    const BytePatternParse parsed = ParseHexPattern(text);
    QVERIFY2(parsed.ok(), qPrintable(parsed.error));
    QCOMPARE(parsed.pattern.value, value);
    QCOMPARE(parsed.pattern.mask, mask);
    QFETCH(QString, canonical);
    QCOMPARE(FormatHexPattern(parsed.pattern), canonical);
    QCOMPARE(ParseHexPattern(canonical).pattern, parsed.pattern);
}

void tst_ByteSearch::parseHexErrors_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("errorAt");

    QTest::newRow("empty") << "" << 0;
    QTest::newRow("separators only") << " , " << 0;
    QTest::newRow("odd run") << "7E 123" << 3;
    QTest::newRow("not a digit") << "7E 0G" << 4;
    QTest::newRow("prefix without digits") << "01 0x" << 3;
    QTest::newRow("prefix inside a run") << "010x02" << 3;
    QTest::newRow("wide character") << QStringLiteral(u"7E \u263A") << 3;
}

void tst_ByteSearch::parseHexErrors()
{
    QFETCH(QString, text);
    QFETCH(int, errorAt);
    const BytePatternParse parsed = ParseHexPattern(text);
    QVERIFY(!parsed.ok());
    QVERIFY(parsed.pattern.isEmpty());
    QCOMPARE(parsed.errorAt, qsizetype(errorAt));
}

void tst_ByteSearch::textPattern()
{
    // NUL and Latin-1 are single bytes; beyond U+00FF the UTF-8 sequence,
    // a surrogate pair as one character.
    const QString text = QString(QChar(0)) + QStringLiteral(u"A\u00FF\u263A") + QString::fromUcs4(U"\U0001F600");
    const BytePattern p = TextPattern(text);
    QCOMPARE(p.value, QByteArray("\0A\xFF\xE2\x98\xBA\xF0\x9F\x98\x80", 10));
    QCOMPARE(p.mask, QByteArray(10, char(0xFF)));
}

// (tag, offset) of each match.
using Hits = std::vector<std::pair<qint64, qsizetype>>;

static Hits feedPieces(PatternMatcher &matcher, const QList<QByteArray> &pieces, qint64 firstTag = 0)
{
    Hits hits;
    qint64 tag = firstTag;
    for (const QByteArray &piece : pieces)
        matcher.feed(piece, tag++, [&](qint64 t, qsizetype o) { hits.emplace_back(t, o); });
    return hits;
}

void tst_ByteSearch::matchesAcrossPieces_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QList<int>>("hits"); // tag, offset, tag, offset...

    QTest::newRow("within one piece") << "7E ?? 00 0D"
                                      << QList<QByteArray>{bytes({1, 0x7E, 5, 0, 0x0D, 0x7E, 0, 0, 0x0D})}
                                      << QList<int>{0, 1, 0, 5};
    QTest::newRow("one byte a piece") << "7E ?? 00 0D"
                                      << QList<QByteArray>{bytes({0x7E}), bytes({0xAA}), bytes({0}), bytes({0x0D})}
                                      << QList<int>{0, 0};
    QTest::newRow("begins in the last byte of a piece")
        << "00 00 00" << QList<QByteArray>{bytes({9, 9, 0}), bytes({0, 0, 0})} << QList<int>{0, 2, 1, 0};
    QTest::newRow("overlapping, every one counted")
        << "41 41" << QList<QByteArray>{"AA", "A", "", "A"} << QList<int>{0, 0, 0, 1, 1, 0};
    QTest::newRow("near miss at a boundary")
        << "0D 0A" << QList<QByteArray>{"x\r", "\r", "\n\r", "x"} << QList<int>{1, 0};
    QTest::newRow("all wildcards") << "?? ??" << QList<QByteArray>{"a", "bc"} << QList<int>{0, 0, 1, 0};
}

void tst_ByteSearch::matchesAcrossPieces()
{
    QFETCH(QString, pattern);
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QList<int>, hits);
    const BytePatternParse parsed = ParseHexPattern(pattern);
    QVERIFY(parsed.ok());
    PatternMatcher matcher(parsed.pattern);
    const Hits found = feedPieces(matcher, pieces);
    Hits expected;
    for (qsizetype i = 0; i + 1 < hits.size(); i += 2)
        expected.emplace_back(hits[i], hits[i + 1]);
    QCOMPARE(found, expected);
    QCOMPARE(matcher.matchCount(), qint64(expected.size()));
}

void tst_ByteSearch::randomPiecesAgreeWithWholeStream()
{
    // Any split of a stream finds exactly the matches a plain scan of the
    // whole stream finds, at the same places. A small alphabet makes matches
    // and near misses common.
    QRandomGenerator rng(1234);
    const QStringList patterns = {"01", "01 02 01", "0? ?1 ??", "?? 00 ?? 00 03", "02 02 02 02 02 02 02 02"};
    for (int round = 0; round < 200; ++round) {
        QByteArray stream(int(rng.bounded(1, 400)), Qt::Uninitialized);
        for (char &c : stream)
            c = char(rng.bounded(4) == 0 ? 0x10 : rng.bounded(4));
        const BytePattern pattern = ParseHexPattern(patterns[round % patterns.size()]).pattern;

        std::vector<qsizetype> whole;
        for (qsizetype s = 0; s + pattern.size() <= stream.size(); ++s) {
            if (pattern.matchesAt(stream.constData() + s))
                whole.push_back(s);
        }

        QList<QByteArray> pieces;
        std::vector<qsizetype> starts;
        for (qsizetype at = 0; at < stream.size();) {
            const qsizetype len = std::min<qsizetype>(stream.size() - at, rng.bounded(0, 12));
            starts.push_back(at);
            pieces.append(stream.mid(at, len));
            at += len;
        }
        PatternMatcher matcher(pattern);
        std::vector<qsizetype> split;
        for (const auto &[tag, offset] : feedPieces(matcher, pieces)) {
            QVERIFY(offset < pieces[tag].size());
            split.push_back(starts[size_t(tag)] + offset);
        }
        QCOMPARE(split, whole);
    }
}

void tst_ByteSearch::restartBreaksTheStream()
{
    PatternMatcher matcher(ParseHexPattern(u"41 42").pattern);
    Hits hits = feedPieces(matcher, {"xA"});
    matcher.restart();
    hits = feedPieces(matcher, {"B", "AB"}, 1);
    QCOMPARE(hits, (Hits{{2, 0}}));
}

QTEST_APPLESS_MAIN(tst_ByteSearch)
#include "tst_bytesearch.moc"
