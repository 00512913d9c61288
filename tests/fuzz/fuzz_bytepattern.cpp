// Fuzzes the hex pattern parser with any text, then looks for the pattern in
// the input's own bytes cut in two at a point the input chooses. Checks that
// a parse either fails at a place inside the text or yields a well-formed
// pattern (wildcard bits zero, whole digits masked) that its canonical form
// reads back as, and that a search split across two pieces finds exactly
// what a scan of the whole finds.
#include "bytepattern.h"
#include "patternmatcher.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace BytePatterns;

namespace {
[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_bytepattern: %s\n", what);
    std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // First byte: where the haystack is cut; the rest is the pattern text,
    // read as UTF-8 (so any character can appear) and searched for in itself.
    const qsizetype cut = data[0];
    const QByteArray rest = QByteArray::fromRawData(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const QString text = QString::fromUtf8(rest);

    const BytePatternParse parsed = ParseHexPattern(text);
    if (!parsed.ok()) {
        if (!parsed.pattern.isEmpty())
            fail("a failed parse left a pattern");
        if (parsed.errorAt < 0 || (parsed.errorAt >= text.size() && !text.isEmpty()))
            fail("error position outside the text");
        return 0;
    }
    const BytePattern &p = parsed.pattern;
    if (p.isEmpty() || p.mask.size() != p.value.size())
        fail("a successful parse without a well-formed pattern");
    if (p.size() > text.size())
        fail("more bytes than characters");
    for (qsizetype i = 0; i < p.size(); ++i) {
        const uchar m = uchar(p.mask[i]);
        if (m != 0x00 && m != 0x0F && m != 0xF0 && m != 0xFF)
            fail("mask that is not whole hex digits");
        if (uchar(p.value[i]) & ~m)
            fail("value bits outside the mask");
    }
    const BytePatternParse again = ParseHexPattern(FormatHexPattern(p));
    if (!again.ok() || !(again.pattern == p))
        fail("canonical form does not read back as the same pattern");

    std::vector<qsizetype> whole;
    PatternMatcher::scan(p, rest, 0, rest.size(), [&](qsizetype s) { whole.push_back(s); });
    const qsizetype at = std::min(cut, rest.size());
    std::vector<qsizetype> split;
    PatternMatcher matcher(p);
    const auto found = [&](qint64 tag, qsizetype offset) { split.push_back(tag == 0 ? offset : at + offset); };
    matcher.feed(QByteArrayView(rest).first(at), 0, found);
    matcher.feed(QByteArrayView(rest).sliced(at), 1, found);
    if (split != whole || matcher.matchCount() != qint64(whole.size()))
        fail("split search differs from the whole scan");
    for (qsizetype s : whole) {
        if (!p.matchesAt(rest.constData() + s))
            fail("reported a position that does not match");
    }
    return 0;
}
