// The image of a download assembled from five boot-table files of arbitrary contents.
//
// Input: the contents of krnl24xx.hex, clr24_x1.hex, era24_x1.hex, prg24_x1.hex and the
// code file, separated by NUL bytes. A file whose part is missing does not exist.
#include "fuzzcommon.h"
#include "statuslog.h"

#include <QDir>

#include <memory>

namespace {

struct State
{
    StatusLog log;
    std::unique_ptr<DownloadImage> image = std::make_unique<DownloadImage>();
    QString names[5];
};

State *state = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    state = new State;
    for (int i = 0; i < 4; ++i)
        state->names[i] = QLatin1String(SupportFileNames[i]);
    state->names[4] = QStringLiteral("code.hex");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const QList<QByteArray> parts = input.split('\0');
    for (int i = 0; i < 5; ++i) {
        if (i < parts.size())
            fuzz::WriteScratchFile(state->names[i], parts[i]);
        else
            QFile::remove(fuzz::Scratch().filePath(state->names[i]));
    }

    DownloadImage &image = *state->image;
    state->log.ClearLog();
    // What an earlier download left: the image is rebuilt over it, never cleared.
    image.BlockNum = int(size % DownloadImage::BlockCount);
    image.ImagePos = image.ImageEnd = int(size % DownloadImage::ImageSize);

    const bool ok = image.AssembleImage(fuzz::Scratch().path(),
                                        fuzz::Scratch().filePath(state->names[4]), state->log);

    FUZZ_REQUIRE(image.ImagePos == 0 && image.BlockNum == 0);
    const QString text = state->log.Text();
    const QString failure = QStringLiteral("---- Cannot load ") + fuzz::Scratch().path();
    if (!ok) {
        FUZZ_REQUIRE(image.LastBlock == -1 && image.BlockTotal() == 0 && image.ImageLength() == 0);
        FUZZ_REQUIRE(text.contains(failure));
        return 0;
    }
    FUZZ_REQUIRE(!text.contains(failure));
    FUZZ_REQUIRE(image.LastBlock >= -1 && image.LastBlock < DownloadImage::BlockCount);
    FUZZ_REQUIRE(image.ImageLength() <= DownloadImage::ImageSize);
    // One block per support-file segment (at most 3FFF words), code blocks of at most 192.
    fuzz::CheckBlocks(image, 0, image.BlockTotal(), 0x3FFF);
    FUZZ_REQUIRE(text.count(QStringLiteral("Done with ")) >= 5);
    // Each support file gave at least one block, so the kernel is block 0 and the
    // algorithms follow it, and the code file gave at least one more: never a download
    // that ends in "programmed" without any of the code.
    FUZZ_REQUIRE(image.BlockTotal() >= 5);
    return 0;
}
