#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <array>

class StatusLog;

// One file as the loader read it: the SHA-256 of exactly the bytes it loaded from, so a
// record of a download names what was sent; or, when the file could not be read, why.
struct FileRead
{
    QString path;
    QByteArray sha256;  // raw digest; empty when the file could not be read
    QString reason;     // why it could not be read
};

// Why a file could not be loaded: the file, the line to blame (0 for none) and the log
// line that said so.
struct LoadFailure
{
    QString path;
    int line = 0;
    QString logLine;
};

// One block of an assembled image: the file it came from (0 to 3 the support files in
// download order, 4 the code file), its target address, its words and its bytes.
struct BlockEntry
{
    int file;
    int address;
    int words;
    int bytes;
};

// Everything one download sends to the target: blocks back to back in sending order,
// each a 4-byte header (block address, word count minus 1, both low byte first) and its
// data words (low byte first), and the table of where each block ends.
//
// While the boot-table files are loaded, ImagePos, ImageEnd and BlockNum grow together;
// once the image is assembled, LastBlock (which shares its storage with ImageEnd) holds
// the index of the last block and the download uses ImagePos and BlockNum as its send
// position and block index.
struct DownloadImage
{
    static constexpr int ImageSize = 131073;
    static constexpr int BlockCount = 257;
    static constexpr int WordsPerBlock = 192;
    // The most of a file's closing line that the log shows; "..." marks a longer one.
    static constexpr int MaxClosingChars = 200;

    std::array<quint8, ImageSize> ImageBytes{};
    std::array<qint32, BlockCount> BlockEnds{};
    qint32 ImagePos = 0;
    qint32 BlockNum = 0;
    qint32 ImageEnd = 0;
    qint32 &LastBlock = ImageEnd;
    // Once assembled: the number of blocks after each of the five files.
    std::array<qint32, 5> FileBlockEnds{};
    // The last file that could not be loaded; an empty path when none.
    LoadFailure Failure;

    DownloadImage() = default;
    DownloadImage(const DownloadImage &) = delete;
    DownloadImage &operator=(const DownloadImage &) = delete;

    // Reads one boot-table text file and appends its segments as blocks: each segment
    // as one block when SplitFlag is true (a support file), cut into blocks of 192 words
    // otherwise (the code file). Either must yield at least one block: a missing support
    // block would shift every later block into the wrong place, a missing code block
    // would end in "programmed" with nothing of the code sent. Logs its progress; the
    // closing line is shown up to MaxClosingChars characters. On a file that cannot be
    // loaded it logs one line naming the file, the line and the reason, takes back every
    // block of this file and returns false; nothing is ever written outside the arrays.
    // With read, it also tells what was read (see FileRead).
    bool LoadHexFile(const QString &path, bool SplitFlag, StatusLog &log, FileRead *read = nullptr);

    // Builds the whole image of a download: the four support files from AppPath, each
    // segment one block, then FileToProgram cut into blocks. Sets LastBlock and puts
    // ImagePos and BlockNum back to 0. Returns false (and leaves an image with no
    // blocks, LastBlock -1) when any file cannot be loaded. With reads, one entry is
    // appended for each file the assembly came to, in loading order.
    bool AssembleImage(const QString &AppPath, const QString &FileToProgram, StatusLog &log,
                       QList<FileRead> *reads = nullptr);

    // Makes this image a copy of other (a download of an image built once elsewhere).
    void CopyFrom(const DownloadImage &other);

    // The blocks of the assembled image, in sending order.
    QList<BlockEntry> BlockTable() const;

    // Number of blocks in the assembled image.
    int BlockTotal() const { return LastBlock + 1; }
    // Size in bytes of the assembled image.
    int ImageLength() const { return LastBlock >= 0 ? BlockEnds[LastBlock] : 0; }
};

// The names of the four support files, in download order.
extern const char *const SupportFileNames[4];
