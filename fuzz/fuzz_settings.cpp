// The settings file reader of both programs (five values and two values) on arbitrary
// file contents, and the round trip of what it reads: every value read can be stored,
// quoted or bare, and is written and read back unchanged.
#include "fuzzcommon.h"
#include "settingsfile.h"

namespace {

QString path;
QString savedPath;

void Check(const QByteArray &bytes, int count)
{
    const QStringList values = SettingsFile::Parse(bytes, count);
    FUZZ_REQUIRE(values.size() <= count);

    const SettingsFile::ReadResult read = SettingsFile::Read(path, count);
    FUZZ_REQUIRE(read.values == values);
    FUZZ_REQUIRE(read.status == (values.size() == count ? SettingsFile::ReadStatus::Ok
                                                        : SettingsFile::ReadStatus::TooFew));

    // Each value comes from one line, an unclosed quote's too, so every value read can be
    // stored again, quoted or bare.
    for (const QString &value : values) {
        FUZZ_REQUIRE(!value.contains(QLatin1Char('\r')) && !value.contains(QLatin1Char('\n')));
        FUZZ_REQUIRE(SettingsFile::CanStore(value) || SettingsFile::CanStoreBare(value));
    }
    if (values.isEmpty())
        return;
    QString reason;
    FUZZ_REQUIRE(SettingsFile::Write(savedPath, values, &reason));
    const SettingsFile::ReadResult back = SettingsFile::Read(savedPath, int(values.size()));
    FUZZ_REQUIRE(back.status == SettingsFile::ReadStatus::Ok && back.values == values);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    path = fuzz::Scratch().filePath(QStringLiteral("input.cfg"));
    savedPath = fuzz::Scratch().filePath(QStringLiteral("config/saved.cfg"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    fuzz::WriteScratchFile(QStringLiteral("input.cfg"), bytes);
    Check(bytes, 5);
    Check(bytes, 2);
    return 0;
}
