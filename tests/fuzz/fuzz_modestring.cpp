// Fuzzes ParseModeString with any text and starting list positions, and
// BuildModeString with any positions. Checks that parsing only ever leaves
// positions inside their lists, and that every built string parses back to
// the positions it was built from (clamped to the lists).
#include "modestring.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

struct Indexes
{
    qint32 baud, parity, dataBits, stopBits;
    bool operator==(const Indexes &) const = default;
};

bool inLists(const Indexes &i)
{
    return i.baud >= 0 && i.baud < qint32(BaudList.size()) && i.parity >= 0 && i.parity < qint32(ParityList.size())
           && i.dataBits >= 0 && i.dataBits < qint32(DataBitsList.size()) && i.stopBits >= 0
           && i.stopBits < qint32(StopBitsList.size());
}

qint32 clampTo(qint32 index, size_t size)
{
    return index < 0 ? 0 : index >= qint32(size) ? qint32(size) - 1 : index;
}

[[noreturn]] void fail(const char *what, const QString &text)
{
    std::fprintf(stderr, "fuzz_modestring: %s for \"%s\"\n", what, text.toUtf8().constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);

    // Positions to build from: any 32-bit values, the dialog's or not.
    const Indexes built{in.ConsumeIntegral<qint32>(), in.ConsumeIntegral<qint32>(), in.ConsumeIntegral<qint32>(),
                        in.ConsumeIntegral<qint32>()};
    const QString canonical = BuildModeString(built.baud, built.parity, built.dataBits, built.stopBits);
    Indexes back{-1, -1, -1, -1};
    ParseModeString(canonical, back.baud, back.parity, back.dataBits, back.stopBits);
    const Indexes clamped{clampTo(built.baud, BaudList.size()), clampTo(built.parity, ParityList.size()),
                          clampTo(built.dataBits, DataBitsList.size()), clampTo(built.stopBits, StopBitsList.size())};
    if (!(back == clamped))
        fail("built string does not parse back", canonical);

    // Any text, starting from valid positions.
    Indexes parsed{in.ConsumeIntegralInRange<qint32>(0, BaudList.size() - 1),
                   in.ConsumeIntegralInRange<qint32>(0, ParityList.size() - 1),
                   in.ConsumeIntegralInRange<qint32>(0, DataBitsList.size() - 1),
                   in.ConsumeIntegralInRange<qint32>(0, StopBitsList.size() - 1)};
    const std::string rest = in.ConsumeRemainingBytesAsString();
    const QString text = (size & 1) ? QString::fromLatin1(rest.data(), qsizetype(rest.size()))
                                    : QString::fromUtf8(rest.data(), qsizetype(rest.size()));
    ParseModeString(text, parsed.baud, parsed.parity, parsed.dataBits, parsed.stopBits);
    if (!inLists(parsed))
        fail("position outside its list", text);

    // Parsing is idempotent through the canonical form.
    const QString again = BuildModeString(parsed.baud, parsed.parity, parsed.dataBits, parsed.stopBits);
    Indexes reparsed{-1, -1, -1, -1};
    ParseModeString(again, reparsed.baud, reparsed.parity, reparsed.dataBits, reparsed.stopBits);
    if (!(reparsed == parsed))
        fail("canonical form of a parsed string does not parse back", text);
    return 0;
}
