#include "downloadimage.h"

#include "boundedfile.h"
#include "statuslog.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QList>

const char *const SupportFileNames[4] = {"krnl24xx.hex", "clr24_x1.hex", "era24_x1.hex",
                                         "prg24_x1.hex"};

namespace {

// A 16-bit value as the log shows it: upper-case hex without leading zeros, a negative
// value as its four digits of two's complement.
QString Hex16(qint16 value)
{
    return QString::number(quint16(value), 16).toUpper();
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// A line as a log line shows it: printable ASCII as it stands, a tab as \t, any other
// byte as \xNN, and no more than 40 characters of it, so the log line stays one short line.
QString Shown(const QByteArray &line)
{
    constexpr int MaxShown = 40;
    QString text;
    for (qsizetype i = 0; i < line.size() && i < MaxShown; ++i) {
        const char c = line[i];
        if (c == '\t')
            text += QStringLiteral("\\t");
        else if (c >= ' ' && c <= '~')
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x")
                  + QString::number(quint8(c), 16).toUpper().rightJustified(2, QLatin1Char('0'));
    }
    if (line.size() > MaxShown)
        text += QStringLiteral("...");
    return text;
}

// The lines of a boot-table file, read one at a time. CR LF, CR alone and LF alone all
// end a line; text after the last line end is a last line of its own.
class LineReader
{
public:
    explicit LineReader(const QByteArray &data) : data(data) {}

    // False when the file has no more lines.
    bool Next(QByteArray &line)
    {
        if (pos >= data.size())
            return false;
        qsizetype end = pos;
        while (end < data.size() && data[end] != '\r' && data[end] != '\n')
            ++end;
        line = data.mid(pos, end - pos);
        pos = end;
        if (pos < data.size() && data[pos] == '\r')
            ++pos;
        if (pos < data.size() && data[pos] == '\n' && (pos == end || data[pos - 1] == '\r'))
            ++pos;
        ++number;
        return true;
    }

    // The number of the line read last (1 for the first).
    int Number() const { return number; }

private:
    const QByteArray &data;
    qsizetype pos = 0;
    int number = 0;
};

// Why a file cannot be loaded: the line it concerns and the reason.
struct LoadError
{
    int line;
    QString reason;
};

class HexFileLoader
{
public:
    HexFileLoader(DownloadImage &image, const QByteArray &data, bool SplitFlag, StatusLog &log,
                  const QString &path)
        : image(image), lines(data), SplitFlag(SplitFlag), log(log), path(path),
          firstBlock(image.BlockNum)
    {
    }

    // Throws LoadError on input that cannot be loaded.
    void Load()
    {
        // Line 1 is free text. An Intel HEX file starts with a record mark there: say so,
        // instead of complaining about one of its later lines.
        if (ReadLine().startsWith(':'))
            Fail(QStringLiteral("an Intel HEX file, not a boot-table text file"));
        qint16 length = ReadWord();
        log.LogLine(QStringLiteral("Len = ") + Hex16(length));
        for (;;) {
            CheckLength(length);
            const qint16 dest = ReadWord();
            destLine = lines.Number();
            log.LogLine(QStringLiteral("Dest Addr = ") + Hex16(dest));
            ReadLine(); // skipped, not examined
            StoreSegment(length, dest);
            length = ReadWord();
            if (length == 0) {
                const QByteArray closing = ReadLine();
                // Each support file is one block of the image at a fixed place: without
                // it every later block would be sent as the one before it. A code file
                // without a block would be "programmed" without any of its code.
                if (image.BlockNum == firstBlock)
                    throw LoadError{0, QStringLiteral("the file holds no block")};
                log.LogLine(QStringLiteral("Done with ") + path + QStringLiteral(". Read '")
                            + ClosingText(closing) + QStringLiteral("' from file "));
                return;
            }
            log.LogLine(QStringLiteral("---- Next Seg.\r\nLen = ") + Hex16(length));
        }
    }

private:
    // The closing line as shown: free text, so it is not examined, but only its first
    // MaxClosingChars characters, so that a file of one huge line cannot swell every log
    // that shows it. At most four bytes make a character: the rest is never decoded.
    static QString ClosingText(const QByteArray &closing)
    {
        constexpr int Max = DownloadImage::MaxClosingChars;
        const QString text = QString::fromLocal8Bit(closing.left(4 * Max + 4));
        if (text.size() <= Max && closing.size() <= 4 * Max + 4)
            return text;
        return text.left(Max) + QStringLiteral("...");
    }

    [[noreturn]] void Fail(const QString &reason, int line = -1)
    {
        throw LoadError{line < 0 ? lines.Number() : line, reason};
    }

    QByteArray ReadLine()
    {
        QByteArray line;
        if (!lines.Next(line))
            Fail(QStringLiteral("the file ends early"), lines.Number() + 1);
        return line;
    }

    // A word line: hex digits with blanks and tabs around them; no digits read 0. Anything
    // else on the line would be read as some other word than the one meant, so it cannot
    // be loaded; nor can more than four significant digits.
    qint16 ReadWord()
    {
        const QByteArray line = ReadLine();
        qsizetype i = 0;
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        quint32 value = 0;
        int significant = 0;
        for (int digit; i < line.size() && (digit = HexDigit(line[i])) >= 0; ++i) {
            if (significant > 0 || digit != 0)
                ++significant;
            value = value * 16 + quint32(digit);
        }
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        if (i < line.size())
            Fail(QStringLiteral("not a hex word: \"%1\"").arg(Shown(line)));
        if (significant > 4)
            Fail(QStringLiteral("more than four hex digits"));
        return qint16(quint16(value));
    }

    void CheckLength(qint16 length)
    {
        if (length < 0)
            Fail(QStringLiteral("segment length %1 is over 7FFF").arg(Hex16(length)));
        if (SplitFlag && length >= 0x4000)
            Fail(QStringLiteral("segment of %1 words is too long for one block (at most 3FFF)")
                     .arg(Hex16(length)));
    }

    void StoreSegment(int length, qint16 dest)
    {
        if (SplitFlag) {
            StoreBlock(length, dest);
            return;
        }
        const int full = length / DownloadImage::WordsPerBlock;
        const int rest = length % DownloadImage::WordsPerBlock;
        for (int k = 0; k <= full; ++k) {
            const int words = k < full ? DownloadImage::WordsPerBlock : rest;
            if (words == 0)
                break;
            // Block addresses are 16-bit signed: from a destination below 8000 they must
            // not run past 7FFF.
            const int address = dest + DownloadImage::WordsPerBlock * k;
            if (dest >= 0 && address > 0x7FFF)
                Fail(QStringLiteral("block address %1 + %2 runs past 7FFF")
                         .arg(Hex16(dest))
                         .arg(QString::number(DownloadImage::WordsPerBlock * k, 16).toUpper()),
                     destLine);
            StoreBlock(words, qint16(address));
        }
    }

    void StoreBlock(int words, qint16 address)
    {
        if (words == 0)
            return;
        if (image.BlockNum >= DownloadImage::BlockCount)
            Fail(QStringLiteral("the image would hold more than %1 blocks")
                     .arg(DownloadImage::BlockCount),
                 destLine);
        if (image.ImageEnd + 2 * words + 4 > DownloadImage::ImageSize)
            Fail(QStringLiteral("the image would hold more than %1 bytes")
                     .arg(DownloadImage::ImageSize),
                 destLine);
        PutWord(quint16(address));
        image.ImageEnd += 2 * words + 4;
        image.BlockEnds[image.BlockNum] = image.ImageEnd;
        image.BlockNum += 1;
        PutWord(quint16(words - 1));
        while (image.ImagePos < image.ImageEnd)
            PutWord(quint16(ReadWord()));
    }

    void PutWord(quint16 word)
    {
        image.ImageBytes[image.ImagePos++] = quint8(word & 0xFF);
        image.ImageBytes[image.ImagePos++] = quint8(word >> 8);
    }

    DownloadImage &image;
    LineReader lines;
    bool SplitFlag;
    StatusLog &log;
    const QString &path;
    // The image's block count before this file.
    const qint32 firstBlock;
    // The line of the current segment's destination address: errors about the segment's
    // blocks point there.
    int destLine = 0;
};

} // namespace

bool DownloadImage::LoadHexFile(const QString &path, bool SplitFlag, StatusLog &log, FileRead *read)
{
    QByteArray data;
    QString reason;
    const bool readWhole = ReadRegularFile(path, &data, &reason);
    if (read) {
        read->path = path;
        read->sha256 = readWhole ? QCryptographicHash::hash(data, QCryptographicHash::Sha256) : QByteArray();
        read->reason = reason;
    }
    if (!readWhole) {
        Failure = {path, 0, QStringLiteral("---- Cannot load ") + path + QStringLiteral(": ") + reason};
        log.LogLine(Failure.logLine);
        return false;
    }
    log.LogLine(QStringLiteral("------ Opened ") + path);

    const qint32 startPos = ImagePos;
    const qint32 startBlocks = BlockNum;
    const qint32 startEnd = ImageEnd;
    try {
        HexFileLoader(*this, data, SplitFlag, log, path).Load();
        return true;
    } catch (const LoadError &error) {
        // Take back what this file stored, so the image holds whole files only.
        ImagePos = startPos;
        BlockNum = startBlocks;
        ImageEnd = startEnd;
        const QString where = error.line > 0 ? QStringLiteral(": line %1: ").arg(error.line)
                                             : QStringLiteral(": ");
        Failure = {path, qMax(0, error.line), QStringLiteral("---- Cannot load ") + path + where + error.reason};
        log.LogLine(Failure.logLine);
        return false;
    }
}

bool DownloadImage::AssembleImage(const QString &AppPath, const QString &FileToProgram,
                                  StatusLog &log, QList<FileRead> *reads)
{
    BlockNum = 0;
    ImageEnd = 0;
    ImagePos = 0;
    Failure = LoadFailure();
    FileBlockEnds.fill(0);
    int file = 0;
    const auto load = [&](const QString &path, bool split) {
        FileRead read;
        const bool loaded = LoadHexFile(path, split, log, &read);
        if (reads)
            reads->append(read);
        FileBlockEnds[size_t(file++)] = BlockNum;
        return loaded;
    };
    bool ok = true;
    for (const char *name : SupportFileNames) {
        ok = load(AppPath + QLatin1Char('/') + QLatin1String(name), true);
        if (!ok)
            break;
    }
    if (ok)
        ok = load(FileToProgram, false);
    LastBlock = ok ? BlockNum - 1 : -1;
    ImagePos = 0;
    BlockNum = 0;
    return ok;
}

void DownloadImage::CopyFrom(const DownloadImage &other)
{
    ImageBytes = other.ImageBytes;
    BlockEnds = other.BlockEnds;
    ImagePos = other.ImagePos;
    BlockNum = other.BlockNum;
    ImageEnd = other.ImageEnd;
    FileBlockEnds = other.FileBlockEnds;
    Failure = other.Failure;
}

QList<BlockEntry> DownloadImage::BlockTable() const
{
    QList<BlockEntry> table;
    int file = 0;
    for (int b = 0; b < BlockTotal(); ++b) {
        while (file < 4 && b >= FileBlockEnds[size_t(file)])
            ++file;
        const int start = b == 0 ? 0 : BlockEnds[size_t(b - 1)];
        const auto word = [this](int at) { return ImageBytes[size_t(at)] | ImageBytes[size_t(at + 1)] << 8; };
        table.append({file, word(start), word(start + 2) + 1, BlockEnds[size_t(b)] - start});
    }
    return table;
}
