#include "check.h"

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
        if (built)
            PrintError(QStringLiteral("the image holds %1 blocks, at least %2 are needed")
                           .arg(image->BlockTotal()).arg(NamedBlocks));
        else
            PrintError(EndReason(Download::NotBuilt(*image)));
        return ExitNotBuilt;
    }

    // Each block is named after the file it came from.
    static const char *const fileNames[5] = {"Kernel", "Clear", "Erase", "Prog", "Code"};
    std::printf("Image of %s\nwith the support files of %s\n\n", qPrintable(Escaped(a.codeFile)),
                qPrintable(Escaped(a.supportDir)));
    std::printf("block  name    address  words  bytes\n");
    const QList<BlockEntry> table = image->BlockTable();
    for (qsizetype b = 0; b < table.size(); ++b) {
        const BlockEntry &block = table[b];
        std::printf("%5d  %-6s  %7s  %5d  %5d\n", int(b), fileNames[block.file],
                    qPrintable(QString::number(block.address, 16).toUpper().rightJustified(4, QLatin1Char('0'))),
                    block.words, block.bytes);
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
