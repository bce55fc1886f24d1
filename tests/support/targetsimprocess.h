#pragma once
// Runs the simulated target for a test: starts it, learns the pseudo-terminal it serves,
// follows what it prints, and reads back the flash it programmed.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStringList>

class TargetSimProcess
{
public:
    ~TargetSimProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(3000))
                process.kill();
            process.waitForFinished(3000);
        }
    }

    // Starts targetsim with the given options; returns once it has printed the device
    // path of its pseudo-terminal (false when it did not within a few seconds).
    bool Start(const QStringList &arguments)
    {
        process.setProgram(QStringLiteral(TARGETSIM_PATH));
        process.setArguments(arguments);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start();
        if (!process.waitForStarted(5000))
            return false;
        QDeadlineTimer deadline(5000);
        while (!process.canReadLine() && !deadline.hasExpired())
            process.waitForReadyRead(100);
        if (!process.canReadLine())
            return false;
        device = QString::fromLocal8Bit(process.readLine()).trimmed();
        return !device.isEmpty();
    }

    // Everything printed after the device line so far. Reads without blocking, so the
    // caller's event loop keeps running the download.
    QString Output()
    {
        output += QString::fromLocal8Bit(process.readAllStandardOutput());
        return output;
    }

    // Runs the event loop until targetsim's output contains text, or the time is up.
    bool WaitFor(const QString &text, int ms = 20000)
    {
        QDeadlineTimer deadline(ms);
        while (!Output().contains(text)) {
            if (deadline.hasExpired() || process.state() == QProcess::NotRunning) {
                return Output().contains(text);
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return true;
    }

    // The first line of the output, not returned before, that contains text (any line
    // when text is empty); empty when none came within ms. Runs the event loop meanwhile.
    QString WaitForLine(const QString &text, int ms = 5000)
    {
        QDeadlineTimer deadline(ms);
        for (;;) {
            // The last piece is a line still being written.
            const QStringList lines = Output().split(QLatin1Char('\n'));
            while (linesTaken < lines.size() - 1) {
                const QString line = lines[linesTaken++];
                if (line.contains(text))
                    return line;
            }
            if (deadline.hasExpired() || process.state() == QProcess::NotRunning)
                return QString();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            process.waitForReadyRead(10);
        }
    }

    // Runs the event loop until targetsim has exited; returns its exit code (-1 on a
    // crash or when it did not exit in time).
    int WaitForExit(int ms = 20000)
    {
        QDeadlineTimer deadline(ms);
        while (process.state() != QProcess::NotRunning && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (process.state() != QProcess::NotRunning)
            return -1;
        Output();
        output += QString::fromLocal8Bit(process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    // Writes the four support files and a code file of the given number of words.
    static bool WriteSamples(const QString &dir, int words, const QString &name = "sample.hex",
                             const QStringList &more = {})
    {
        QProcess samples;
        samples.start(QStringLiteral(TARGETSIM_PATH),
                      QStringList{"--write-samples", dir, "--words", QString::number(words),
                                  "--code-name", name} + more);
        return samples.waitForFinished(10000) && samples.exitStatus() == QProcess::NormalExit
            && samples.exitCode() == 0;
    }

    // The flash targetsim reports: address to word.
    static QMap<quint16, quint16> ReadFlash(const QString &path)
    {
        QMap<quint16, quint16> flash;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return flash;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() == 2)
                flash[quint16(fields[0].toUInt(nullptr, 16))] = quint16(fields[1].toUInt(nullptr, 16));
        }
        return flash;
    }

    // The words a well-formed boot-table file places at their addresses, read on its own
    // terms (not through the program's loader).
    static QMap<quint16, quint16> CodeWords(const QString &path)
    {
        QMap<quint16, quint16> words;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return words;
        const QList<QByteArray> lines = file.readAll().replace("\r\n", "\n").split('\n');
        int at = 1;
        auto word = [&]() { return at < lines.size() ? lines[at++].trimmed().toUInt(nullptr, 16) : 0u; };
        for (uint length = word(); length != 0; length = word()) {
            quint16 address = quint16(word());
            ++at; // the skipped line
            for (uint i = 0; i < length; ++i)
                words[address++] = quint16(word());
        }
        return words;
    }

    QProcess process;
    QString device;

private:
    QString output;
    int linesTaken = 0;
};
