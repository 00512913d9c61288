// Fuzzes the reading of stored numbers: ReadStoredNumber with any text and
// range, then the settings store over a file of any content, reading every
// key of the program's sections as numbers, saving one key and reading the
// file back. Checks that a stored number is always the fallback or inside
// its range, and that saving a key keeps the value it saved and every other
// key of its section that could be read.
#include "leadingnumber.h"
#include "settingsstore.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

std::unique_ptr<QTemporaryDir> workDir;

[[noreturn]] void fail(const char *what, const QString &text)
{
    std::fprintf(stderr, "fuzz_storednumber: %s: \"%s\"\n", what, text.toUtf8().constData());
    std::abort();
}

void checkNumber(const QString &text, qint32 minimum, qint32 maximum, qint32 fallback)
{
    const qint32 value = ReadStoredNumber(text, minimum, maximum, fallback);
    const double rounded = std::nearbyint(LeadingNumber(text));
    if (rounded >= double(minimum) && rounded <= double(maximum)) {
        if (value != qint32(rounded))
            fail("a number in range was not read as itself", text);
    } else if (value != fallback) {
        fail("a number out of range did not give the fallback", text);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // In memory when possible: saving syncs the file to disk each time.
    const QString base
        = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    workDir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/fuzz_storednumber-XXXXXX"));
    if (!workDir->isValid()) {
        std::fprintf(stderr, "fuzz_storednumber: no temporary directory\n");
        std::abort();
    }
    std::atexit([] { workDir.reset(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const qint32 minimum = in.ConsumeIntegral<qint32>();
    const qint32 maximum = in.ConsumeIntegral<qint32>();
    const qint32 fallback = in.ConsumeIntegral<qint32>();
    const std::string number = in.ConsumeRandomLengthString(64);
    checkNumber(QString::fromUtf8(number.data(), qsizetype(number.size())), minimum, maximum, fallback);

    // The rest is a settings file. The same name every time: the settings
    // layer keeps a cache entry for every file name it has seen.
    const std::string content = in.ConsumeRemainingBytesAsString();
    // A value written as @Variant(...) is decoded by the toolkit's own
    // settings reader, which allocates whatever length the value claims
    // (gigabytes from a few bytes). The program never writes such values;
    // what this target checks is the program's own reading and saving.
    if (content.find("@Variant(") != std::string::npos)
        return 0;
    const QString path = workDir->filePath(QStringLiteral("s.ini"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)
            || file.write(content.data(), qint64(content.size())) != qint64(content.size()))
            std::abort();
    }

    QMap<QString, QString> before;
    {
        SettingsStore store(path);
        for (const QString &section :
             {QStringLiteral("Settings"), QStringLiteral("Ports"), QStringLiteral("General")}) {
            const QMap<QString, QString> all = store.GetAllSettings(section);
            for (auto it = all.cbegin(); it != all.cend(); ++it) {
                checkNumber(it.value(), 0, 2, 1);
                checkNumber(it.value(), -1, 32, 0);
                checkNumber(it.value(), INT32_MIN, INT32_MAX, 0);
            }
        }
        checkNumber(store.GetSetting(QStringLiteral("Settings"), QStringLiteral("CommPort"), QStringLiteral("0")), -1,
                    32, 0);
        before = store.GetAllSettings(QStringLiteral("Settings"));
        store.SaveSetting(QStringLiteral("Settings"), QStringLiteral("CommPort"), QStringLiteral("7"));
        store.Flush();
    }
    {
        SettingsStore store(path);
        QMap<QString, QString> after = store.GetAllSettings(QStringLiteral("Settings"));
        if (after.value(QStringLiteral("CommPort")) != QStringLiteral("7"))
            fail("saved key did not read back", QString::fromUtf8(content.data(), qsizetype(content.size())));
        after.remove(QStringLiteral("CommPort"));
        before.remove(QStringLiteral("CommPort"));
        if (after != before)
            fail("saving lost or changed another key", QString::fromUtf8(content.data(), qsizetype(content.size())));
    }
    QFile::remove(path);
    return 0;
}
