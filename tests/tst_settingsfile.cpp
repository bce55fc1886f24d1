#include "settingsfile.h"
#include "settingsplace.h"
#include "files.h"
#include "unreadablefile.h"
#include "watchdog.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#endif

using SettingsFile::ReadStatus;

class TestSettingsFile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    QString WriteRaw(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        if (!WriteFile(path, bytes))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    // Two settings files, one from an earlier installation, one with later choices.
    static QByteArray OldFile() { return "\"C:\\old.hex\"\r\n\"3\"\r\n"; }
    static QByteArray NewFile() { return "\"C:\\new.hex\"\r\n\"4\"\r\n"; }

private slots:
    void parsing_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("five quoted values")
            << QByteArray("\"C:\\a.hex\"\r\n\"\"\r\n\"\"\r\n\"TROX\"\r\n\"3\"\r\n") << 5
            << QStringList{"C:\\a.hex", "", "", "TROX", "3"};
        QTest::newRow("comma inside quotes belongs to the value")
            << QByteArray("\"/x/a,b.hex\"\r\n\"1\"\r\n") << 2 << QStringList{"/x/a,b.hex", "1"};
        QTest::newRow("comma outside quotes ends a value")
            << QByteArray("\"a\",\"b\"\r\n") << 2 << QStringList{"a", "b"};
        QTest::newRow("blank line is an empty value")
            << QByteArray("\"a\"\r\n\r\n\"c\"\r\n") << 3 << QStringList{"a", "", "c"};
        QTest::newRow("unquoted value as is") << QByteArray("\"/home/u\"\r\n1\r\n") << 2
                                              << QStringList{"/home/u", "1"};
        QTest::newRow("unquoted value, blanks around dropped")
            << QByteArray("  7 \r\n") << 1 << QStringList{"7"};
        QTest::newRow("quoted blanks kept") << QByteArray("\" a \"\r\n") << 1
                                            << QStringList{" a "};
        QTest::newRow("LF and CR alone end lines too")
            << QByteArray("\"a\"\n\"b\"\r\"c\"") << 3 << QStringList{"a", "b", "c"};
        QTest::newRow("extra lines ignored") << QByteArray("\"a\"\r\n\"b\"\r\n\"c\"\r\njunk\r\n")
                                             << 2 << QStringList{"a", "b"};
        QTest::newRow("fewer values: those read") << QByteArray("\"a\"\r\n\"b\"\r\n") << 5
                                                  << QStringList{"a", "b"};
        QTest::newRow("text after the closing quote dropped")
            << QByteArray("\"a\"xyz\r\n\"b\"\r\n") << 2 << QStringList{"a", "b"};
        QTest::newRow("quote never closed ends at its line end")
            << QByteArray("\"a\r\nb") << 2 << QStringList{"a", "b"};
        QTest::newRow("unclosed quote in line 1 keeps the later values in their slots")
            << QByteArray("\"C:\\a.hex\r\n\"\"\r\n\"\"\r\n\"TROX\"\r\n\"3\"\r\n") << 5
            << QStringList{"C:\\a.hex", "", "", "TROX", "3"};
        QTest::newRow("unclosed quotes before LF, CR and a comma")
            << QByteArray("\"a\n\"b\r\"c,d\r\n\"e\"") << 4 << QStringList{"a", "b", "c,d", "e"};
        QTest::newRow("empty file") << QByteArray() << 2 << QStringList{};
    }

    void parsing()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, count);
        QFETCH(QStringList, expected);
        QCOMPARE(SettingsFile::Parse(bytes, count), expected);
    }

    void readStatuses()
    {
        QVERIFY(dir.isValid());
        const auto missing = SettingsFile::Read(dir.filePath("none.cfg"), 5);
        QCOMPARE(missing.status, ReadStatus::Missing);

        const auto few = SettingsFile::Read(
            WriteRaw("three.cfg", "\"/a.hex\"\r\n\"/b.hex\"\r\n\"/c.hex\"\r\n"), 5);
        QCOMPARE(few.status, ReadStatus::TooFew);
        QCOMPARE(few.values, (QStringList{"/a.hex", "/b.hex", "/c.hex"}));

        const auto ok = SettingsFile::Read(WriteRaw("two.cfg", "\"x\"\r\n1\r\n"), 2);
        QCOMPARE(ok.status, ReadStatus::Ok);
        QCOMPARE(ok.values, (QStringList{"x", "1"}));

        // A folder in the file's place exists but cannot be read as a file.
        QVERIFY(QDir(dir.path()).mkdir("folder.cfg"));
        const auto unreadable = SettingsFile::Read(dir.filePath("folder.cfg"), 2);
        QVERIFY(unreadable.status == ReadStatus::Unreadable
                || unreadable.status == ReadStatus::TooFew);
        QVERIFY(unreadable.status != ReadStatus::Ok);
    }

    void unreadableFilesAreRefusedAtOnce_data() { AddUnreadableFileRows(); }

    void unreadableFilesAreRefusedAtOnce()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        const QString path = UnreadableFile(dir.path(), kind);
        QVERIFY(!path.isEmpty());
        Watchdog watchdog;
        const auto read = SettingsFile::Read(path, 5);
        QCOMPARE(read.status, ReadStatus::Unreadable);
        QCOMPARE(read.reason, reason);

        // Nor is a FIFO or folder replaced by a save.
        if (kind != "fifo" && kind != "folder")
            return;
        QString why;
        QVERIFY(!SettingsFile::Write(path, {"a", "1"}, &why));
        QCOMPARE(why, QString("not a regular file"));
        QVERIFY(QFileInfo(path).exists() && !QFileInfo(path).isFile());
    }

    void writeBytesExactly()
    {
        const QString path = dir.filePath("sub/folder/out.cfg"); // folders created
        QString reason;
        QVERIFY2(SettingsFile::Write(path, {"/a,b.hex", "", "", "ZLB", "2"}, &reason),
                 qPrintable(reason));
        QCOMPARE(ReadFile(path), QByteArray("\"/a,b.hex\"\r\n\"\"\r\n\"\"\r\n\"ZLB\"\r\n\"2\"\r\n"));

        // A raw value goes out without quotes; the content is replaced whole.
        QVERIFY(SettingsFile::Write(path, {"/home/u", "1"}, &reason, {false, true}));
        QCOMPARE(ReadFile(path), QByteArray("\"/home/u\"\r\n1\r\n"));

        // What was written reads back unchanged.
        const auto back = SettingsFile::Read(path, 2);
        QCOMPARE(back.status, ReadStatus::Ok);
        QCOMPARE(back.values, (QStringList{"/home/u", "1"}));

        // No temporary file is left behind.
        QCOMPARE(QDir(dir.filePath("sub/folder")).entryList(QDir::Files),
                 QStringList{"out.cfg"});
    }

    void local8BitRoundTrip()
    {
        const QString name = QString::fromUtf8("/datos/Programación/año,1 é.hex");
        if (QString::fromLocal8Bit(name.toLocal8Bit()) != name)
            QSKIP("the local 8-bit encoding cannot hold the test name");
        QVERIFY(SettingsFile::CanStore(name));
        const QString path = dir.filePath("local.cfg");
        QVERIFY(SettingsFile::Write(path, {name, "1"}));
        QCOMPARE(ReadFile(path), QByteArray("\"") + name.toLocal8Bit() + "\"\r\n\"1\"\r\n");
        const auto back = SettingsFile::Read(path, 2);
        QCOMPARE(back.values, (QStringList{name, "1"}));
    }

    void canStore()
    {
        QVERIFY(SettingsFile::CanStore(""));
        QVERIFY(SettingsFile::CanStore("C:\\Code\\Drive 1,2.hex"));
        QVERIFY(!SettingsFile::CanStore("/a\"b.hex"));
        QVERIFY(!SettingsFile::CanStore("/a\nb.hex"));
        QVERIFY(!SettingsFile::CanStore("/a\rb.hex"));
        QVERIFY(!SettingsFile::CanStore(QString(QChar(0xD800)))); // lone surrogate
    }

    void quoteInsideBareValueSurvivesSaves()
    {
        // A hand-edited file holds a bare value with a quote inside. It is read as it
        // stands, and saving it again writes it bare so it reads back unchanged instead of
        // making every later save fail.
        const QString path = WriteRaw("edited.cfg", "\"/a.hex\"\r\n/b\"x\".hex\r\n\"\"\r\n\"TROX\"\r\n3\r\n");
        const auto read = SettingsFile::Read(path, 5);
        QCOMPARE(read.status, ReadStatus::Ok);
        QCOMPARE(read.values, (QStringList{"/a.hex", "/b\"x\".hex", "", "TROX", "3"}));
        QString reason;
        QVERIFY2(SettingsFile::Write(path, read.values, &reason), qPrintable(reason));
        QCOMPARE(ReadFile(path),
                 QByteArray("\"/a.hex\"\r\n/b\"x\".hex\r\n\"\"\r\n\"TROX\"\r\n\"3\"\r\n"));
        QCOMPARE(SettingsFile::Read(path, 5).values, read.values);

        // Whatever the reader takes from a line, an unclosed quote's included, the writer
        // can store again.
        const QByteArray odd[] = {"a\"b", "x\"\"", " q\"r \t", "\v\f x\"y\f", "1\"2\"3,\"4\"",
                                  "\"open, x"};
        for (const QByteArray &bytes : odd) {
            const QStringList values = SettingsFile::Parse(bytes + "\r\n", 1);
            QCOMPARE(values.size(), 1);
            const QString again = dir.filePath("again.cfg");
            QVERIFY2(SettingsFile::Write(again, values, &reason), bytes.constData());
            QCOMPARE(SettingsFile::Read(again, 1).values, values);
        }
    }

    void failedWriteKeepsOldFile()
    {
        const QString path = WriteRaw("keep.cfg", "\"old\"\r\n\"1\"\r\n");
        const QByteArray before = ReadFile(path);

        // A value the file cannot hold either way is refused before anything is written.
        QString reason;
        for (const QString &bad : {QString("\"bad"), QString("a\"b,c"), QString("a\"b\nc")}) {
            reason.clear();
            QVERIFY(!SettingsFile::Write(path, {bad, "1"}, &reason));
            QVERIFY(!reason.isEmpty());
            QCOMPARE(ReadFile(path), before);
        }

        // The folder cannot be created: a plain file stands in its place.
        WriteRaw("plain", "x");
        reason.clear();
        QVERIFY(!SettingsFile::Write(dir.filePath("plain/x.cfg"), {"a"}, &reason));
        QVERIFY(!reason.isEmpty());

#ifdef Q_OS_LINUX
        // The system refuses the write half way (file size limit): the old content stays.
        struct rlimit old {};
        getrlimit(RLIMIT_FSIZE, &old);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = old;
        small.rlim_cur = 8;
        setrlimit(RLIMIT_FSIZE, &small);
        reason.clear();
        const bool written =
            SettingsFile::Write(path, {QString(200, QLatin1Char('n')), "2"}, &reason);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!written);
        QVERIFY(!reason.isEmpty());
        QCOMPARE(ReadFile(path), before);
        QCOMPARE(QDir(dir.path()).entryList({"keep.cfg*"}, QDir::Files),
                 QStringList{"keep.cfg"});
#endif
    }
    // Where the settings live when their own place (the root of drive C on Windows) may not
    // be writable: "fixed" and "user" stand for that place and the user's folder; "none"
    // is no file, "file" a settings file, "folder" something no settings file can be read
    // from. The user's file holds the user's own later choices.
    void settingsPlace_data()
    {
        QTest::addColumn<QString>("fixed");
        QTest::addColumn<bool>("fixedWritable");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("used");
        QTest::addColumn<QByteArray>("userBytes");

        QTest::newRow("writable root, file there: used in place")
            << "file" << true << "none" << "fixed" << QByteArray("<missing>");
        QTest::newRow("writable root, no file: made there")
            << "none" << true << "none" << "fixed" << QByteArray("<missing>");
        QTest::newRow("writable root wins over a user file")
            << "file" << true << "file" << "fixed" << NewFile();
        QTest::newRow("read-only root: its file carried into the user's folder")
            << "file" << false << "none" << "user" << OldFile();
        QTest::newRow("read-only root: the user's own file kept")
            << "file" << false << "file" << "user" << NewFile();
        QTest::newRow("read-only root, no file anywhere: the user's folder")
            << "none" << false << "none" << "user" << QByteArray("<missing>");
        QTest::newRow("read-only root, unreadable file there: nothing carried")
            << "folder" << false << "none" << "user" << QByteArray("<missing>");
    }

    void settingsPlace()
    {
        QFETCH(QString, fixed);
        QFETCH(bool, fixedWritable);
        QFETCH(QString, user);
        QFETCH(QString, used);
        QFETCH(QByteArray, userBytes);

        QTemporaryDir place;
        const QString fixedPath = place.filePath("root/ZizUdederAdev11.cfg");
        const QString userPath = place.filePath("AppData/OrvantBootLoader11/ZizUdederAdev11.cfg");
        QDir().mkpath(place.filePath("root"));
        if (fixed == "file")
            QVERIFY(WriteFile(fixedPath, OldFile()));
        else if (fixed == "folder")
            QVERIFY(QDir().mkpath(fixedPath));
        if (user == "file")
            QVERIFY(WriteFile(userPath, NewFile()));
        const QByteArray fixedBefore = ReadFile(fixedPath);

        QCOMPARE(SettingsPlace::Settle(fixedPath, fixedWritable, userPath),
                 used == "fixed" ? fixedPath : userPath);
        QCOMPARE(ReadFile(userPath), userBytes);
        QCOMPARE(ReadFile(fixedPath), fixedBefore);
        QCOMPARE(SettingsFile::Read(userPath, 2).status,
                 userBytes == "<missing>" ? ReadStatus::Missing : ReadStatus::Ok);
        // No user folder known: the file's own place whatever it allows.
        QCOMPARE(SettingsPlace::Settle(fixedPath, fixedWritable, QString()), fixedPath);
    }

    // Whether a save can succeed: it makes a temporary file in the folder and renames it.
    void canWrite()
    {
        QVERIFY(SettingsPlace::CanWrite(dir.filePath("new.cfg")));
        QVERIFY(SettingsPlace::CanWrite(WriteRaw("present.cfg", "\"a\"\r\n")));
        QVERIFY(!SettingsPlace::CanWrite(dir.filePath("no/such/folder/x.cfg")));
        QDir().mkpath(dir.filePath("afolder.cfg"));
        QVERIFY(!SettingsPlace::CanWrite(dir.filePath("afolder.cfg")));
        // The probe leaves nothing behind.
        QCOMPARE(QDir(dir.path()).entryList({"settings-*"}, QDir::Files), QStringList{});
    }
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
