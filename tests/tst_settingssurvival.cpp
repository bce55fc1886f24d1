// Settings files that survive: a writer killed at any moment of a save, a read-only or
// missing configuration folder and a full disk never leave a partial file or lose the
// stored one.
//
// The program runs itself as the writer that is killed: with "--writer PATH VALUES" it
// saves one generation of values after another until it is killed.
#include "settingsfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cstdio>

#include <unistd.h>

namespace {

// Generation g of a settings file of count values: long paths so that one save takes
// several writes, and a value that tells the generation.
QStringList Generation(int g, int count)
{
    QStringList values;
    for (int i = 0; i < count - 1; ++i)
        values << QStringLiteral("/home/operator/firmware/%1/").arg(g) + QString(3000 + 97 * i, QChar('a' + (g + i) % 26))
                      + QStringLiteral(",drive %1.hex").arg(i);
    values << QString::number(g);
    return values;
}

// The single-file program writes its first port bare.
QVector<bool> Raw(int count)
{
    return count == 2 ? QVector<bool>{false, true} : QVector<bool>{};
}

int RunWriter(const QString &path, int count)
{
    std::printf("ready\n");
    std::fflush(stdout);
    for (int g = 1;; ++g) {
        QString reason;
        if (!SettingsFile::Write(path, Generation(g, count), &reason, Raw(count))) {
            std::fprintf(stderr, "settings writer: %s\n", qPrintable(reason));
            return 1;
        }
    }
}

QByteArray Contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool Run(const QString &program, const QStringList &arguments, QString *output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit
                 && process.exitCode() == 0;
    if (output)
        *output = QString::fromLocal8Bit(process.readAll()).trimmed();
    return ok;
}

} // namespace

class TestSettingsSurvival : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QStringList mounted;

    // Mounts a small memory file system at path; false (with the reason) when this
    // process may not mount.
    bool Mount(const QString &path, const QString &options, QString *why)
    {
        QDir().mkpath(path);
        if (!Run("mount", {"-t", "tmpfs", "-o", options, "tmpfs", path}, why))
            return false;
        mounted << path;
        return true;
    }

    static QStringList Others(const QString &folder, const QString &keep)
    {
        QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
        names.removeAll(keep);
        return names;
    }

private slots:
    void cleanup()
    {
        for (const QString &path : std::as_const(mounted))
            Run("umount", {"-l", path});
        mounted.clear();
    }

    void killedWhileSaving_data()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("multi-drive file, five values") << 5;
        QTest::newRow("single-file file, two values") << 2;
    }

    // Killed at random moments while it saves again and again, the writer always leaves a
    // complete file: the one before the save or the one after it.
    void killedWhileSaving()
    {
        QFETCH(int, count);
        const QString path = dir.filePath(QStringLiteral("kill%1/ZizUdederAdev.cfg").arg(count));
        QVERIFY(SettingsFile::Write(path, Generation(0, count), nullptr, Raw(count)));
        QRandomGenerator rng(4711 + count);
        for (int round = 0; round < 40; ++round) {
            QProcess writer;
            writer.start(QCoreApplication::applicationFilePath(),
                         {"--writer", path, QString::number(count)});
            QVERIFY(writer.waitForStarted(5000));
            QVERIFY(writer.waitForReadyRead(10000));
            QThread::usleep(rng.bounded(30000));
            writer.kill(); // SIGKILL
            QVERIFY(writer.waitForFinished(5000));
            QCOMPARE(writer.exitStatus(), QProcess::CrashExit);

            const SettingsFile::ReadResult read = SettingsFile::Read(path, count);
            QCOMPARE(read.status, SettingsFile::ReadStatus::Ok);
            bool isNumber = false;
            const int g = read.values.last().toInt(&isNumber);
            QVERIFY2(isNumber, qPrintable(read.values.last().left(80)));
            QCOMPARE(Contents(path), SettingsFile::Format(Generation(g, count), Raw(count)));
        }
    }

    // A missing folder is created; one that cannot be created is reported and nothing is
    // written anywhere.
    void missingFolder()
    {
        const QString nested = dir.filePath("config/deeper/ZizUdederAdev11.cfg");
        const QStringList values{"/a.hex", "", "", "TROX", "1"};
        QVERIFY(SettingsFile::Write(nested, values));
        QCOMPARE(SettingsFile::Read(nested, 5).values, values);

        QFile blocker(dir.filePath("notAFolder"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QString reason;
        QVERIFY(!SettingsFile::Write(dir.filePath("notAFolder/sub/x.cfg"), values, &reason));
        QVERIFY2(reason.startsWith("cannot create the folder ") && reason.contains("notAFolder"),
                 qPrintable(reason));
        QVERIFY(QFileInfo(blocker.fileName()).isFile());
    }

    // A folder that cannot be written keeps the old file, readable and whole, and the
    // reason names the problem.
    void readOnlyFolder()
    {
        const QString folder = dir.filePath("readonly");
        const QString path = folder + "/ZizUdederAdev.cfg";
        const QStringList old{"/old/code.hex", "2"};
        QString why;
        const bool root = ::geteuid() == 0;
        if (root) {
            if (!Mount(folder, "size=64k", &why))
                QSKIP(qPrintable("cannot mount a file system to make read-only (" + why + ")"));
        } else {
            QVERIFY(QDir().mkpath(folder));
        }
        QVERIFY(SettingsFile::Write(path, old));
        const QByteArray before = Contents(path);
        if (root)
            QVERIFY(Run("mount", {"-o", "remount,ro", folder}, &why));
        else
            QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));

        QString reason;
        QVERIFY(!SettingsFile::Write(path, {"/new/code.hex", "3"}, &reason));
        QVERIFY2(!reason.isEmpty(), "no reason given");
        QCOMPARE(Contents(path), before);
        QCOMPARE(SettingsFile::Read(path, 2).values, old);
        QCOMPARE(Others(folder, "ZizUdederAdev.cfg"), QStringList());

        if (!root)
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    // On a full disk the save fails with the system's reason, the old file stays whole and
    // no temporary file is left behind; with room again the save succeeds.
    void fullDisk()
    {
        const QString folder = dir.filePath("full");
        const QString path = folder + "/ZizUdederAdev11.cfg";
        QString why;
        if (::geteuid() != 0 || !Mount(folder, "size=64k", &why))
            QSKIP(qPrintable("a full disk needs a small file system of its own, and mounting one needs "
                             "root (" + (why.isEmpty() ? QStringLiteral("not root") : why) + ")"));
        const QStringList old{"/old/a.hex", "", "", "TROX", "1"};
        QVERIFY(SettingsFile::Write(path, old));
        const QByteArray before = Contents(path);

        // Fill the rest of the file system.
        QFile filler(folder + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray chunk(4096, 'x');
        while (filler.write(chunk) == chunk.size()) {
        }
        filler.close();

        const QStringList next = Generation(7, 5);
        QString reason;
        QVERIFY(!SettingsFile::Write(path, next, &reason));
        QVERIFY2(reason.contains("No space left on device"), qPrintable(reason));
        QCOMPARE(Contents(path), before);
        QCOMPARE(SettingsFile::Read(path, 5).values, old);
        QCOMPARE(Others(folder, "ZizUdederAdev11.cfg"), QStringList{"filler"});

        QVERIFY(filler.remove());
        QVERIFY2(SettingsFile::Write(path, next, &reason), qPrintable(reason));
        QCOMPARE(SettingsFile::Read(path, 5).values, next);
    }
};

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--writer") == 0) {
        QCoreApplication app(argc, argv);
        return RunWriter(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt());
    }
    QCoreApplication app(argc, argv);
    TestSettingsSurvival test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingssurvival.moc"
