#pragma once
// Shared parts of the fuzz targets: a scratch folder for the files each input becomes, and
// a check that stops the run on a broken rule (libFuzzer saves the input that broke it).

#include "downloadimage.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_REQUIRE(condition)                                                            \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition);   \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

namespace fuzz {

inline const QTemporaryDir &Scratch()
{
    static QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot create a scratch folder\n");
        std::abort();
    }
    return dir;
}

inline QString WriteScratchFile(const QString &name, const QByteArray &bytes)
{
    const QString path = Scratch().filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::abort();
    }
    return path;
}

// The rules every block of the image keeps: blocks back to back from `from` on, each at
// least one word, its header's word count matching the space it takes, and nothing past
// the end of the arrays.
inline void CheckBlocks(const DownloadImage &image, int from, int blocks, int maxWords)
{
    FUZZ_REQUIRE(blocks >= 0 && blocks <= DownloadImage::BlockCount);
    for (int k = from; k < blocks; ++k) {
        const int start = k == 0 ? 0 : image.BlockEnds[k - 1];
        const int end = image.BlockEnds[k];
        FUZZ_REQUIRE(end <= DownloadImage::ImageSize);
        FUZZ_REQUIRE(end - start >= 6 && (end - start) % 2 == 0);
        const int words = (end - start - 4) / 2;
        FUZZ_REQUIRE(words <= maxWords);
        const int count = image.ImageBytes[start + 2] | (image.ImageBytes[start + 3] << 8);
        FUZZ_REQUIRE(count == words - 1);
    }
}

} // namespace fuzz
