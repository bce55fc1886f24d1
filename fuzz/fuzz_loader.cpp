// LoadHexFile on arbitrary file contents, split and unsplit, appended to an image that
// may already hold blocks, so that the limits of the arrays are reached by small inputs.
//
// Input: 6 header bytes, then the file's contents.
//   byte 0      bit 0: SplitFlag
//   bytes 1-2   blocks already in the image (0 to 257)
//   bytes 3-5   bytes already in the image (scaled into what those blocks can hold)
#include "fuzzcommon.h"
#include "statuslog.h"


#include <cstring>
#include <memory>

namespace {

constexpr quint8 Fill = 0x5A;

struct State
{
    StatusLog log;
    std::unique_ptr<DownloadImage> image = std::make_unique<DownloadImage>();
    std::unique_ptr<DownloadImage> before = std::make_unique<DownloadImage>();
    QString path;
};

State *state = nullptr;

// Puts blocks into the image as earlier files would have left them.
void Prefill(DownloadImage &image, int blocks, int bytes)
{
    image.ImageBytes.fill(Fill);
    image.BlockEnds.fill(-1);
    for (int k = 0; k + 1 < blocks; ++k)
        image.BlockEnds[k] = 6 * (k + 1);
    if (blocks > 0)
        image.BlockEnds[blocks - 1] = bytes;
    image.BlockNum = blocks;
    image.ImagePos = bytes;
    image.ImageEnd = bytes;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    state = new State;
    state->path = fuzz::Scratch().filePath(QStringLiteral("input.hex"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 6)
        return 0;
    const bool split = data[0] & 1;
    const int blocks = (data[1] | (data[2] << 8)) % (DownloadImage::BlockCount + 1);
    int bytes = 0;
    if (blocks > 0) {
        const int least = 6 * blocks;
        const int raw = data[3] | (data[4] << 8) | (data[5] << 16);
        bytes = (least + raw % (DownloadImage::ImageSize - least + 1)) & ~1;
    }
    const QByteArray file(reinterpret_cast<const char *>(data) + 6, int(size - 6));
    fuzz::WriteScratchFile(QStringLiteral("input.hex"), file);

    DownloadImage &image = *state->image;
    Prefill(image, blocks, bytes);
    Prefill(*state->before, blocks, bytes);
    state->log.ClearLog();

    const bool ok = image.LoadHexFile(state->path, split, state->log);

    // Blocks stored before are never touched.
    FUZZ_REQUIRE(std::memcmp(image.ImageBytes.data(), state->before->ImageBytes.data(), bytes) == 0);
    FUZZ_REQUIRE(std::memcmp(image.BlockEnds.data(), state->before->BlockEnds.data(),
                             sizeof(qint32) * blocks) == 0);

    const QString text = state->log.Text();
    const int lastLine = text.lastIndexOf(QStringLiteral("\r\n"));
    const QString failure = QStringLiteral("---- Cannot load ") + state->path + QLatin1Char(':');
    const bool reported = text.mid(lastLine + 2).startsWith(failure);
    if (!ok) {
        // A file that cannot be loaded says so on its last line and leaves no block.
        FUZZ_REQUIRE(reported);
        FUZZ_REQUIRE(image.BlockNum == blocks);
        FUZZ_REQUIRE(image.ImagePos == bytes && image.ImageEnd == bytes);
        return 0;
    }
    FUZZ_REQUIRE(!text.contains(failure));
    FUZZ_REQUIRE(text.contains(QStringLiteral("Done with ")));
    // An Intel HEX file is never taken for a boot table, and a file that loads gives at
    // least one block.
    FUZZ_REQUIRE(!file.startsWith(':'));
    FUZZ_REQUIRE(image.BlockNum > blocks);
    FUZZ_REQUIRE(image.BlockNum >= blocks && image.BlockNum <= DownloadImage::BlockCount);
    FUZZ_REQUIRE(image.ImagePos == image.ImageEnd);
    FUZZ_REQUIRE(image.ImageEnd == (image.BlockNum > 0 ? image.BlockEnds[image.BlockNum - 1] : 0));
    fuzz::CheckBlocks(image, blocks, image.BlockNum, split ? 0x3FFF : DownloadImage::WordsPerBlock);
    // The new bytes are exactly the new blocks: nothing written past them.
    FUZZ_REQUIRE(image.ImageEnd == DownloadImage::ImageSize
                 || std::memcmp(image.ImageBytes.data() + image.ImageEnd,
                                state->before->ImageBytes.data() + image.ImageEnd,
                                DownloadImage::ImageSize - image.ImageEnd) == 0);
    return 0;
}
