// Fuzzes the private clipboard block parser with any block, and the plain
// text forms with any bytes. Checks that a parsed block never yields more
// bytes than the block holds (a claimed count is not trusted), that encoding
// and parsing round-trip exactly, and that plain text carries the bytes up to
// the first NUL.
#include "clipboardblock.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace ClipboardBlock;

namespace {
[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_clipboardblock: %s\n", what);
    std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));

    const QByteArray parsed = ParseClipboardBlock(input);
    if (parsed.size() > input.size())
        fail("parsed block longer than the block");
    // Whatever is parsed is a run of the block's own bytes, at its end or
    // before bytes the count leaves out.
    if (!parsed.isEmpty() && input.indexOf(parsed) < 0)
        fail("parsed bytes are not a part of the block");

    if (ParseClipboardBlock(EncodeClipboardBlock(input)) != input)
        fail("encode/parse does not round-trip");

    const QByteArray plain = PlainTextPart(input);
    if (plain.contains('\0') || !input.startsWith(plain))
        fail("plain text part is not the bytes before the first NUL");
    // Valid UTF-8 pasted back as text gives the same bytes.
    if (QUtf8StringView(plain).isValidUtf8() && BytesFromPlainText(QString::fromUtf8(plain)) != plain)
        fail("plain text does not round-trip the UTF-8 bytes before the first NUL");

    // Pasted text of any characters: never a NUL, never more than 3 bytes a
    // UTF-16 unit.
    const QString text = QString::fromUtf8(input);
    const QByteArray pasted = BytesFromPlainText(text);
    if (pasted.contains('\0') || pasted.size() > 3 * text.size())
        fail("bytes from pasted text");
    return 0;
}
