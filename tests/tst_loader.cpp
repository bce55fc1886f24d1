// The boot-table loader and the image assembly of a download.
#include "downloadimage.h"
#include "files.h"
#include "unreadablefile.h"
#include "statuslog.h"
#include "watchdog.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {



// A boot-table file of one segment: first line, length, destination, skipped line, data,
// 0, closing line.
QStringList OneSegment(int length, const QString &dest, const QStringList &data,
                       const QString &closing = QStringLiteral("0000"))
{
    return QStringList{"10AA", QString::number(length, 16).toUpper(), dest, "0000"} + data
         + QStringList{"0000", closing};
}

QByteArray FileBytes(const QStringList &lines)
{
    return (lines.join(CRLF) + CRLF).toLatin1();
}

} // namespace

class TestLoader : public QObject
{
    Q_OBJECT

private:
    // The log and the image start empty for each test; the files lie in one folder.
    StatusLog log;
    std::unique_ptr<DownloadImage> image;
    QTemporaryDir dir;

    QString Write(const QString &name, const QByteArray &content)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(path));
        file.write(content);
        return path;
    }

    QString Write(const QString &name, const QStringList &lines)
    {
        return Write(name, FileBytes(lines));
    }

    QByteArray Bytes(int from, int to) const
    {
        return QByteArray(reinterpret_cast<const char *>(image->ImageBytes.data()) + from, to - from);
    }

    static QByteArray WordBytes(const QStringList &words)
    {
        QByteArray bytes;
        for (const QString &w : words) {
            const quint16 v = quint16(w.toUInt(nullptr, 16));
            bytes.append(char(v & 0xFF)).append(char(v >> 8));
        }
        return bytes;
    }

private slots:
    void init()
    {
        log = StatusLog();
        image = std::make_unique<DownloadImage>();
    }

    void workedExampleCutIntoBlocks()
    {
        const QStringList data = WordLines(Words(200, quint16(0x1234)));
        const QString path = Write("worked.hex", OneSegment(200, "0040", data));
        QVERIFY(image->LoadHexFile(path, false, log));

        QCOMPARE(image->BlockNum, 2);
        QCOMPARE(image->ImagePos, 408);
        QCOMPARE(image->ImageEnd, 408);
        QCOMPARE(image->BlockEnds[0], 388);
        QCOMPARE(image->BlockEnds[1], 408);
        QCOMPARE(Bytes(0, 4), QByteArray::fromHex("4000BF00"));
        QCOMPARE(Bytes(4, 388), WordBytes(data.mid(0, 192)));
        QCOMPARE(Bytes(388, 392), QByteArray::fromHex("00010700"));
        QCOMPARE(Bytes(392, 408), WordBytes(data.mid(192)));
        QCOMPARE(log.Text(), CRLF + "------ Opened " + path + CRLF + "Len = C8" + CRLF
                                  + "Dest Addr = 40" + CRLF + "Done with " + path
                                  + ". Read '0000' from file ");
    }

    void workedExampleAsOneBlock()
    {
        const QStringList data = WordLines(Words(200, quint16(7)));
        const QString path = Write("worked.hex", OneSegment(200, "0040", data));
        QVERIFY(image->LoadHexFile(path, true, log));
        QCOMPARE(image->BlockNum, 1);
        QCOMPARE(image->BlockEnds[0], 404);
        QCOMPARE(image->ImagePos, 404);
        QCOMPARE(Bytes(0, 4), QByteArray::fromHex("4000C700"));
        QCOMPARE(Bytes(4, 404), WordBytes(data));
    }

    void byteOrderOfWordsAndAddresses()
    {
        const QString path = Write("order.hex", OneSegment(2, "8000", {"ABCD", "8001"}));
        QVERIFY(image->LoadHexFile(path, false, log));
        QCOMPARE(Bytes(0, 8), QByteArray::fromHex("00800100CDAB0180"));
        QVERIFY(log.Text().contains(CRLF + "Dest Addr = 8000" + CRLF));
    }

    void segmentsCutAt192Words_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("dest");
        QTest::addColumn<bool>("split");
        QTest::addColumn<QList<int>>("ends");
        QTest::addColumn<QStringList>("headers");
        QTest::newRow("192") << 192 << "0040" << false << QList<int>{388} << QStringList{"4000BF00"};
        QTest::newRow("193") << 193 << "0040" << false << QList<int>{388, 394}
                             << QStringList{"4000BF00", "00010000"};
        QTest::newRow("384") << 384 << "0040" << false << QList<int>{388, 776}
                             << QStringList{"4000BF00", "0001BF00"};
        QTest::newRow("191 cut") << 191 << "0040" << false << QList<int>{386} << QStringList{"4000BE00"};
        QTest::newRow("191 as one block") << 191 << "0040" << true << QList<int>{386} << QStringList{"4000BE00"};
        // The last addresses below 8000 are valid block starts.
        QTest::newRow("one word at 7FFF") << 1 << "7FFF" << false << QList<int>{6} << QStringList{"FF7F0000"};
        QTest::newRow("192 words at 7F40") << 192 << "7F40" << false << QList<int>{388} << QStringList{"407FBF00"};
    }

    void segmentsCutAt192Words()
    {
        QFETCH(int, length);
        QFETCH(QString, dest);
        QFETCH(bool, split);
        QFETCH(QList<int>, ends);
        QFETCH(QStringList, headers);
        const QStringList data = WordLines(Words(length, quint16(3)));
        // A second file follows directly after the blocks of the first.
        const QString first = Write("seg.hex", OneSegment(length, dest, data));
        const QString second = Write("next.hex", OneSegment(1, "0500", {"BEEF"}));
        QVERIFY(image->LoadHexFile(first, split, log));
        QVERIFY(image->LoadHexFile(second, split, log));

        QCOMPARE(image->BlockNum, int(ends.size()) + 1);
        QByteArray stored;
        for (int k = 0; k < ends.size(); ++k) {
            QCOMPARE(image->BlockEnds[k], ends[k]);
            const int start = k == 0 ? 0 : ends[k - 1];
            QCOMPARE(Bytes(start, start + 4), QByteArray::fromHex(headers[k].toLatin1()));
            stored += Bytes(start + 4, ends[k]);
        }
        QCOMPARE(stored, WordBytes(data));
        QCOMPARE(Bytes(ends.last(), ends.last() + 6), QByteArray::fromHex("00050000EFBE"));
        QCOMPARE(image->BlockEnds[ends.size()], ends.last() + 6);
    }

    void twoSegmentsLogInOrder()
    {
        const QStringList lines{"0000", "0002", "0100", "FFFF", "1111", "2222",
                                "0001", "0200", "xx", "3333", "0", "end"};
        const QString path = Write("two.hex", lines);
        QVERIFY(image->LoadHexFile(path, false, log));
        QCOMPARE(log.Text(), CRLF + "------ Opened " + path + CRLF + "Len = 2" + CRLF
                                  + "Dest Addr = 100" + CRLF + "---- Next Seg." + CRLF
                                  + "Len = 1" + CRLF + "Dest Addr = 200" + CRLF + "Done with "
                                  + path + ". Read 'end' from file ");
        QCOMPARE(image->BlockNum, 2);
        QCOMPARE(Bytes(0, 8), QByteArray::fromHex("0001010011112222"));
        QCOMPARE(Bytes(8, 14), QByteArray::fromHex("000200003333"));
    }

    void firstLengthZeroStillOpensASegment()
    {
        // The 0 on line 2 opens a segment: its address and skipped line are read, no block
        // is stored, and the next line is the next length.
        const QStringList lines{"0000", "0000", "0300", "0000", "0001", "0400", "0000",
                                "4242", "0000", "fin"};
        const QString path = Write("zero.hex", lines);
        QVERIFY(image->LoadHexFile(path, false, log));
        QCOMPARE(image->BlockNum, 1);
        QCOMPARE(Bytes(0, 6), QByteArray::fromHex("000400004242"));
        QVERIFY(log.Text().contains("Dest Addr = 300" + CRLF + "---- Next Seg."));
    }

    void emptyLinesReadAsZero()
    {
        // An empty data line is the word 0; an empty line where a length is due ends the
        // segments.
        const QStringList lines{"", "3", "40", "", "1111", "", "2222", "", "closing"};
        const QString path = Write("empty.hex", lines);
        QVERIFY(image->LoadHexFile(path, false, log));
        QCOMPARE(image->BlockNum, 1);
        QCOMPARE(Bytes(0, 10), QByteArray::fromHex("40000200111100002222"));
        QVERIFY(log.Text().endsWith(". Read 'closing' from file "));
    }

    // The closing line is free text, shown as it stands up to 200 characters; a longer
    // one (a file of one huge line) is cut, so no log that shows it swells.
    void closingLineShownUnchangedAndNothingAfterItRead_data()
    {
        QTest::addColumn<QString>("closing");
        QTest::addColumn<QString>("shown");
        QTest::newRow("text") << "Kernel v2, built 12345678" << "Kernel v2, built 12345678";
        QTest::newRow("200 characters") << QString(200, 'k') << QString(200, 'k');
        QTest::newRow("201 characters") << QString(201, 'k') << QString(200, 'k') + "...";
        QTest::newRow("200 two-byte characters") << QString(200, QChar(0xE9)) << QString(200, QChar(0xE9));
        QTest::newRow("nearly 16 MiB") << QString(16 * 1024 * 1024 - 100, 'k') << QString(200, 'k') + "...";
    }

    void closingLineShownUnchangedAndNothingAfterItRead()
    {
        QFETCH(QString, closing);
        QFETCH(QString, shown);
        const QStringList lines = OneSegment(1, "40", {"1"}, closing) + QStringList{"123456789", "garbage"};
        const QString path = Write("closing.hex", (lines.join(CRLF) + CRLF).toUtf8());
        QVERIFY(image->LoadHexFile(path, true, log));
        QVERIFY(log.Text().endsWith(". Read '" + shown + "' from file "));
    }

    void blanksTabsAndEveryLineEnd()
    {
        const QByteArray content = "0\r\n \t2\n 0040 \r0000\r\n\tabcd\t\n 0012 \t\r0\r\nlast";
        const QString path = Write("ends.hex", content);
        QVERIFY(image->LoadHexFile(path, false, log));
        QCOMPARE(Bytes(0, 8), QByteArray::fromHex("40000100CDAB1200"));
        QVERIFY(log.Text().endsWith(". Read 'last' from file "));
    }

    void freeTextLinesAreNotConvertedAndBlankWordsReadZero()
    {
        // Line 1, the line after an address and the closing line are never words.
        const QStringList lines{"12345 Kernel", "2", "40", "12G4 -1", " \t", "7", "0", "x0045"};
        const QString path = Write("free.hex", lines);
        QVERIFY(image->LoadHexFile(path, false, log));
        QCOMPARE(Bytes(0, 8), QByteArray::fromHex("4000010000000700"));
        QVERIFY(log.Text().endsWith(". Read 'x0045' from file "));
    }

    void unloadableInputs_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("split");
        QTest::addColumn<QString>("reason");

        QTest::newRow("empty file") << QByteArray() << false << "line 1: the file ends early";
        QTest::newRow("ends before the first length")
            << QByteArray("0000\r\n") << false << "line 2: the file ends early";
        QTest::newRow("ends inside the data")
            << FileBytes({"0", "3", "40", "0", "1", "2"}) << false << "line 7: the file ends early";
        QTest::newRow("ends before the closing line")
            << FileBytes({"0", "1", "40", "0", "1", "0"}) << false << "line 7: the file ends early";
        QTest::newRow("five significant digits")
            << FileBytes({"0", "2", "40", "0", "1", "12345", "0", "x"}) << false
            << "line 6: more than four hex digits";
        QTest::newRow("letter before a length")
            << FileBytes({"0", "x0045", "40", "0"}) << false << "line 2: not a hex word: \"x0045\"";
        QTest::newRow("letter inside an address")
            << FileBytes({"0", "1", "12G4", "0"}) << false << "line 3: not a hex word: \"12G4\"";
        QTest::newRow("no digit in a data word")
            << FileBytes({"0", "2", "40", "0", "1", "ZZZZ", "0", "x"}) << false
            << "line 6: not a hex word: \"ZZZZ\"";
        QTest::newRow("0x prefix") << FileBytes({"0", "1", "40", "0", "0x3", "0", "x"}) << false
                                   << "line 5: not a hex word: \"0x3\"";
        QTest::newRow("sign") << FileBytes({"0", "1", "40", "0", "1", "-1", "40", "0"}) << false
                              << "line 6: not a hex word: \"-1\"";
        QTest::newRow("blank between digits")
            << FileBytes({"0", "1", "40", "0", "12 34", "0", "x"}) << false
            << "line 5: not a hex word: \"12 34\"";
        QTest::newRow("text after the digits")
            << FileBytes({"0", "1", "40", "0", " 0012 junk", "0", "x"}) << false
            << "line 5: not a hex word: \" 0012 junk\"";
        QTest::newRow("control characters shown escaped")
            << FileBytes({"0", "1", "40", "0", QString::fromLatin1("1\t\0\x7f" "2", 5), "0", "x"})
            << false
            << "line 5: not a hex word: \"1\\t\\x00\\x7F2\"";
        QTest::newRow("long line shown cut")
            << FileBytes({"0", "1", "40", "0", QString(100, 'G'), "0", "x"}) << false
            << "line 5: not a hex word: \"" + QString(40, 'G') + "...\"";
        QTest::newRow("Intel HEX file")
            << FileBytes({":0400000000010203F6", ":00000001FF"}) << true
            << "line 1: an Intel HEX file, not a boot-table text file";
        QTest::newRow("length 8000") << FileBytes({"0", "8000", "40", "0"}) << false
                                     << "line 2: segment length 8000 is over 7FFF";
        QTest::newRow("second length FFFF")
            << FileBytes({"0", "1", "40", "0", "1", "FFFF", "40", "0"}) << false
            << "line 6: segment length FFFF is over 7FFF";
        QTest::newRow("one block of 4000 words")
            << FileBytes({"0", "4000", "40", "0"}) << true
            << "line 2: segment of 4000 words is too long for one block (at most 3FFF)";

        QStringList overflow{"0", "C1", "7F40", "0"};
        overflow << WordLines(Words(0xC1)) << "0" << "x";
        QTest::newRow("block address past 7FFF")
            << FileBytes(overflow) << false << "line 3: block address 7F40 + C0 runs past 7FFF";

        // 258 one-word segments after the one block loaded first.
        QStringList manyBlocks{"0", "1"};
        for (int i = 0; i < 258; ++i)
            manyBlocks << "40" << "0" << "1" << (i < 257 ? "1" : "0");
        manyBlocks << "x";
        QTest::newRow("more than 257 blocks")
            << FileBytes(manyBlocks) << false
            << "line 1027: the image would hold more than 257 blocks";

        QStringList bigImage{"0", "3FFF"};
        for (int i = 0; i < 5; ++i)
            bigImage << "0" << "0" << WordLines(Words(0x3FFF)) << (i < 4 ? "3FFF" : "0");
        bigImage << "x";
        QTest::newRow("more than 131073 bytes")
            << FileBytes(bigImage) << true
            << QString("line %1: the image would hold more than 131073 bytes")
                   .arg(3 + 3 * (0x3FFF + 3));
    }

    void unloadableInputs()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, split);
        QFETCH(QString, reason);
        // A whole file loaded before stays; the failed file leaves no block behind.
        const QString good = Write("good.hex", OneSegment(2, "10", {"AAAA", "BBBB"}));
        QVERIFY(image->LoadHexFile(good, true, log));
        const QString path = Write("bad.hex", content);
        QVERIFY(!image->LoadHexFile(path, split, log));
        QCOMPARE(log.Text().split(CRLF).last(), "---- Cannot load " + path + ": " + reason);
        QCOMPARE(image->BlockNum, 1);
        QCOMPARE(image->ImagePos, 8);
        QCOMPARE(image->ImageEnd, 8);
    }

    void missingFileCannotBeLoaded()
    {
        const QString path = dir.filePath("nowhere.hex");
        QVERIFY(!image->LoadHexFile(path, false, log));
        QCOMPARE(log.Text(), CRLF + "---- Cannot load " + path + ": No such file or directory");
        QCOMPARE(image->BlockNum, 0);
    }

    void unreadableFilesAreRefusedAtOnce_data()
    {
        AddUnreadableFileRows();
        // The bound itself is allowed: a file of exactly 16 MiB is read.
        QTest::newRow("exactly 16 MiB") << "exactly 16 MiB" << QString();
    }

    void unreadableFilesAreRefusedAtOnce()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        Watchdog watchdog;
        if (reason.isEmpty()) {
            QByteArray bytes = FileBytes(OneSegment(1, "40", {"1"}));
            const QString path = Write("16MiB.hex", bytes.leftJustified(16 * 1024 * 1024, ' '));
            QCOMPARE(QFileInfo(path).size(), 16 * 1024 * 1024);
            QVERIFY(image->LoadHexFile(path, false, log));
            QCOMPARE(image->BlockNum, 1);
            return;
        }
        const QString path = UnreadableFile(dir.path(), kind);
        QVERIFY(!path.isEmpty() && !image->LoadHexFile(path, false, log));
        QCOMPARE(log.Text(), CRLF + "---- Cannot load " + path + ": " + reason);
        QCOMPARE(image->BlockNum, 0);
    }

    void assemblyOfADownload()
    {
        QTemporaryDir app;
        for (int i = 0; i < 4; ++i) {
            QFile f(app.filePath(SupportFileNames[i]));
            QVERIFY(f.open(QIODevice::WriteOnly));
            // Each support file is one segment stored as one block, whatever its length.
            f.write(FileBytes(OneSegment(300 + i, "0", WordLines(Words(300 + i)))));
        }
        const QString code = Write("code.hex", OneSegment(400, "100", WordLines(Words(400))));
        // Leftovers of an earlier, longer image do not matter.
        image->BlockNum = 9;
        image->ImagePos = image->ImageEnd = 5000;
        QVERIFY(image->AssembleImage(app.path(), code, log));

        QCOMPARE(image->LastBlock, 6);
        QCOMPARE(image->ImagePos, 0);
        QCOMPARE(image->BlockNum, 0);
        const int supportBytes = 604 + 606 + 608 + 610;
        QCOMPARE(image->BlockEnds[3], supportBytes);
        QCOMPARE(image->BlockEnds[6], supportBytes + 388 + 388 + 36);
        QCOMPARE(image->ImageLength(), image->BlockEnds[image->LastBlock]);
        QStringList opened;
        for (const QString &line : log.Text().split(CRLF))
            if (line.startsWith("------ Opened "))
                opened << line.mid(14);
        QStringList expected;
        for (const char *name : SupportFileNames)
            expected << app.filePath(name);
        QCOMPARE(opened, expected << code);
    }

    // A file of the download without a block is refused: without the kernel's block the
    // clear algorithm would be sent as the kernel; without a code block the download
    // would end in "programmed" with none of the code sent, even where a support file of
    // two segments makes up the five blocks.
    void fileWithoutBlockIsRefused_data()
    {
        QTest::addColumn<bool>("inCode");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        QTest::newRow("only segment of length 0")
            << false << FileBytes({"10AA", "0", "0", "0", "0", "end"}) << "the file holds no block";
        QTest::newRow("blank lines") << false << QByteArray(8, '\n') << "the file holds no block";
        const QString text = QString::fromLatin1(FileBytes(OneSegment(1, "40", {"1234"})));
        QByteArray utf16("\xFF\xFE");
        utf16 += QByteArray(reinterpret_cast<const char *>(text.utf16()), 2 * text.size());
        QTest::newRow("UTF-16") << false << utf16 << "line 2: not a hex word: \"\\x00\"";
        QTest::newRow("code file beside a two-segment kernel")
            << true << FileBytes({"10AA", "0", "100", "0", "0", "end"}) << "the file holds no block";
    }

    void fileWithoutBlockIsRefused()
    {
        QFETCH(bool, inCode);
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        QTemporaryDir app;
        const QByteArray good = FileBytes(OneSegment(1, "0", WordLines(Words(1))));
        const QByteArray twoSegments = FileBytes({"0", "1", "0", "0", "1", "1", "40", "0", "2", "0", "end"});
        for (int i = 0; i < 4; ++i) {
            QFile f(app.filePath(SupportFileNames[i]));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(i > 0 ? good : inCode ? twoSegments : content);
        }
        const QString code = Write("code.hex", inCode ? content : FileBytes(OneSegment(4, "100", WordLines(Words(4)))));
        QVERIFY(!image->AssembleImage(app.path(), code, log));
        QCOMPARE(image->LastBlock, -1);
        QCOMPARE(log.Text().split(CRLF).last(),
                 "---- Cannot load " + (inCode ? code : app.filePath(SupportFileNames[0])) + ": " + reason);
    }

    void assemblyFailureLeavesNothingToSend()
    {
        QTemporaryDir app;
        const QString code = Write("code.hex", OneSegment(4, "100", WordLines(Words(4))));
        QVERIFY(!image->AssembleImage(app.path(), code, log));
        QCOMPARE(image->LastBlock, -1);
        QCOMPARE(image->BlockTotal(), 0);
        QCOMPARE(image->ImageLength(), 0);
        QVERIFY(log.Text().endsWith("krnl24xx.hex: No such file or directory"));
    }
};

QTEST_GUILESS_MAIN(TestLoader)
#include "tst_loader.moc"
