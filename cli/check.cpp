#include "check.h"

#include "board.h"
#include "console.h"
#include "download.h"
#include "downloadimage.h"
#include "statuslog.h"

#include <cstdio>
#include <memory>

namespace {

constexpr double BaudRate = 38400;
constexpr double BitsPerByte = 10;
constexpr int NamedBlocks = Download::NamedBlocks;

} // namespace

int Check(const Arguments &a)
{
    StatusLog log;
    auto image = std::make_unique<DownloadImage>();
    const bool built = image->AssembleImage(a.supportDir, a.codeFile, log);
    if (!built || image->BlockTotal() < NamedBlocks) {
        const QStringList lines = log.Text().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        if (!built && !lines.isEmpty())
            PrintError(WithoutDashes(lines.last()));
        else
            PrintError(QStringLiteral("the image holds %1 blocks, at least %2 are needed")
                           .arg(image->BlockTotal()).arg(NamedBlocks));
        return ExitNotBuilt;
    }

    // Each support file gives as many blocks as it has segments: count them on their own
    // to name each block after its file.
    static const char *const supportNames[4] = {"Kernel", "Clear", "Erase", "Prog"};
    QStringList names;
    auto scratch = std::make_unique<DownloadImage>();
    for (int i = 0; i < 4; ++i) {
        StatusLog unused;
        scratch->ImagePos = scratch->ImageEnd = scratch->BlockNum = 0;
        scratch->LoadHexFile(a.supportDir + QLatin1Char('/') + QLatin1String(SupportFileNames[i]),
                             true, unused);
        for (int k = 0; k < scratch->BlockNum; ++k)
            names << QLatin1String(supportNames[i]);
    }

    std::printf("Image of %s\nwith the support files of %s\n\n", qPrintable(Escaped(a.codeFile)),
                qPrintable(Escaped(a.supportDir)));
    std::printf("block  name    address  words  bytes\n");
    for (int b = 0; b < image->BlockTotal(); ++b) {
        const int start = b == 0 ? 0 : image->BlockEnds[b - 1];
        const int address = image->ImageBytes[start] | image->ImageBytes[start + 1] << 8;
        const int words = (image->ImageBytes[start + 2] | image->ImageBytes[start + 3] << 8) + 1;
        const QString name = b < names.size() ? names[b] : QStringLiteral("Code");
        std::printf("%5d  %-6s  %7s  %5d  %5d\n", b, qPrintable(name),
                    qPrintable(QString::number(address, 16).toUpper().rightJustified(4, QLatin1Char('0'))),
                    words, image->BlockEnds[b] - start);
    }
    const int blocks = image->BlockTotal();
    const int bytes = image->ImageLength();
    std::printf("total: %d blocks, %d bytes\n", blocks, bytes);

    // Bytes on the line: each image byte out and echoed back; each block's end mark and
    // acknowledgement; two carriage returns out and two back before each block after the
    // fifth; three closing zeros out, two answered.
    const long lineBytes = 2L * bytes + 2L * blocks + 4L * (blocks - NamedBlocks) + 5;
    const double seconds = lineBytes * BitsPerByte / BaudRate;
    std::printf("time on the line at 38400 baud: %.1f s (%ld bytes of 10 bits: every image byte\n"
                "out and echoed back, the end mark and acknowledgement of each block, the\n"
                "handshakes before blocks 5 on and the closing exchange), plus the lock wait of\n"
                "0.1 s per carriage return until the board answers (at most 3.1 s) and the\n"
                "turnaround of the adapter and the board at every byte\n",
                seconds, lineBytes);
    return ExitOk;
}
