// targetsim: the target side of the flash download protocol on a pseudo-terminal.
// It gives the download programs a serial peer without a board and checks every byte
// the host sends; see --help.

#include "line.h"
#include "options.h"
#include "samples.h"
#include "target.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <poll.h>
#include <thread>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

enum ExitCode { ExitOk = 0, ExitViolation = 1, ExitUsage = 2, ExitTimeout = 3, ExitSystem = 4 };
// Not an exit code: the line was closed and a new one opened; the rest of what was read
// from the old line is dropped.
constexpr int LineReplaced = -2;

// 10 bit times per byte at 38400 baud.
const Clock::duration ByteTime =
    std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(10.0 / 38400));
// The host's lock attempts come about 100 ms apart, more on a busy machine: only a gap
// well beyond that means it has given up.
constexpr long MinLockQuietMs = 1000;
// How long a hang-up waits for the host's answer to the last echo.
constexpr long MinHangupWaitMs = 1000;

volatile std::sig_atomic_t stopSignal = 0;

void OnStopSignal(int)
{
    stopSignal = 1;
}

void Print(const char *format, ...) __attribute__((format(printf, 1, 2)));
void Print(const char *format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::fputs("targetsim: ", stdout);
    std::vprintf(format, args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    va_end(args);
}

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// When the reply to a byte that arrived at `arrival` is due: one byte time for the byte
// to cross the line, one for the reply.
Clock::time_point ReplyDue(Clock::time_point arrival)
{
    return arrival + 2 * ByteTime;
}

// Waits without sleeping: exact to the clock's resolution, but it keeps a core busy.
void SpinUntil(Clock::time_point due)
{
    while (Clock::now() < due) {
    }
}

class Simulator
{
public:
    explicit Simulator(const Options &options) : opt(options) {}

    int Run();
    int RunEchoOnly();

private:
    enum class Mode { Receiving, Quiet, HangupWait };

    bool OpenLine();
    int Finish(int code);
    int HandleByte(std::uint8_t byte, Clock::time_point arrival);
    void Reply(int byte, Clock::time_point arrival);
    int EndSession();
    int EndHangup();
    void SendLateReply();
    bool WriteFlash();
    std::string Stats(Clock::time_point end) const;
    void NewSession();
    // Arrival time of the next byte of a read: bytes follow each other on the line one
    // byte time apart at least.
    Clock::time_point Arrival(Clock::time_point readAt);
    int WaitForInput(Clock::time_point deadline, short &revents);

    const Options &opt;
    Line line;
    std::unique_ptr<Target> target;
    long download = 1;   // number of the download being served
    long finished = 0;   // downloads ended so far
    bool started = false;
    Clock::time_point sessionStart, sessionEnd, lastInput, lastArrival;
    Mode mode = Mode::Receiving;
    Clock::time_point modeDeadline;
    bool complete = false;  // the ending download completed (not an injected failure)
    std::string lastSummary;
    int lateReply = -1;  // --late-reply: the right reply still to be sent, or -1
    Clock::time_point lateReplyAt;
    long echoed = 0;  // --echo-only
};

bool Simulator::OpenLine()
{
    std::string error;
    if (!line.Open(error) || (!opt.link.empty() && !UpdateLink(opt.link, line.Device(), error))) {
        std::fprintf(stderr, "targetsim: %s\n", error.c_str());
        return false;
    }
    return true;
}

std::string Simulator::Stats(Clock::time_point end) const
{
    char text[160];
    std::snprintf(text, sizeof text, "%d blocks, %ld words, %ld bytes, %.3f seconds",
                  target->Blocks(), target->Words(), target->Bytes(),
                  Seconds(end - sessionStart));
    return text;
}

int Simulator::Finish(int code)
{
    const Clock::time_point now = Clock::now();
    if (opt.echoOnly) {
        Print("summary: echo only: %ld bytes echoed", echoed);
    } else if (started && mode == Mode::Receiving) {
        Print("summary: download %ld in progress: %s", download, Stats(now).c_str());
    } else if (started) {
        Print("summary: download %ld %s: %s", download,
              complete ? "complete" : "failure injected", Stats(sessionEnd).c_str());
    } else if (finished > 0) {
        Print("summary: %s", lastSummary.c_str());
    } else {
        Print("summary: no download received: 0 bytes received");
    }
    if (!opt.link.empty())
        RemoveLink(opt.link, line.Device());
    return code;
}

void Simulator::NewSession()
{
    target = std::make_unique<Target>(opt.ForDownload(download), download);
    started = false;
    complete = false;
    mode = Mode::Receiving;
    lateReply = -1;
}

Clock::time_point Simulator::Arrival(Clock::time_point readAt)
{
    // Bytes read together crossed the line one after the other; without the wire-time
    // model they arrive when they are read, or the clock would run ahead of real time.
    if (opt.baudTime == BaudTime::Off)
        return lastArrival = readAt;
    lastArrival = std::max(readAt, lastArrival + ByteTime);
    return lastArrival;
}

void Simulator::Reply(int byte, Clock::time_point arrival)
{
    if (opt.baudTime == BaudTime::Spin)
        SpinUntil(ReplyDue(arrival));
    else if (opt.baudTime == BaudTime::Sleep)
        std::this_thread::sleep_until(ReplyDue(arrival));
    const std::uint8_t b = std::uint8_t(byte);
    WriteAll(line.Master(), &b, 1);
}

bool Simulator::WriteFlash()
{
    const std::string temp = opt.flashOut + ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        char text[16];
        for (const auto &word : target->Flash()) {
            std::snprintf(text, sizeof text, "%04X %04X\n", word.first, word.second);
            out << text;
        }
        out.close();
        if (!out) {
            std::fprintf(stderr, "targetsim: cannot write %s\n", temp.c_str());
            std::remove(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), opt.flashOut.c_str()) != 0) {
        std::fprintf(stderr, "targetsim: cannot write %s: %s\n", opt.flashOut.c_str(),
                     std::strerror(errno));
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

// The reply that would have been right at the injected failure, sent late. The target
// stays ended: a byte from the host is still a violation.
void Simulator::SendLateReply()
{
    const std::uint8_t b = std::uint8_t(lateReply);
    WriteAll(line.Master(), &b, 1);
    Print("late reply %s sent after %ld ms", HexByte(lateReply).c_str(),
          opt.ForDownload(download).lateReplyMs);
    lateReply = -1;
}

// The quiet period after a download is over: report it and go on with the next one.
int Simulator::EndSession()
{
    if (complete) {
        if (!opt.flashOut.empty() && !WriteFlash())
            return Finish(ExitSystem);
        lastSummary = "download " + std::to_string(download) + " complete: " + Stats(sessionEnd);
        Print("download %ld: complete: %s", download, Stats(sessionEnd).c_str());
    } else {
        lastSummary = "download " + std::to_string(download) + " failure injected: "
                      + Stats(sessionEnd);
        Print("download %ld: failure injected (%s); nothing received after it", download,
              target->Failure().c_str());
    }
    ++finished;
    if (opt.downloads > 0 && finished >= opt.downloads) {
        started = false;
        return Finish(ExitOk);
    }
    ++download;
    NewSession();
    return -1;
}

// The host has answered the echo after --hangup-after (or did not in time): pull the
// cable, and lay a new one when more downloads are to come. Returns an exit code, or
// LineReplaced to go on.
int Simulator::EndHangup()
{
    line.Close();
    lastSummary = "download " + std::to_string(download) + " failure injected: " + Stats(sessionEnd);
    Print("download %ld: failure injected (%s)", download, target->Failure().c_str());
    ++finished;
    if (opt.downloads > 0 && finished >= opt.downloads) {
        started = false;
        return Finish(ExitOk);
    }
    if (!OpenLine())
        return Finish(ExitSystem);
    Print("line reopened at %s", line.Device().c_str());
    ++download;
    NewSession();
    lastInput = Clock::now();
    return LineReplaced;
}

// Returns an exit code, -1 to go on, or LineReplaced.
int Simulator::HandleByte(std::uint8_t byte, Clock::time_point arrival)
{
    if (!started) {
        started = true;
        sessionStart = arrival;
    }
    const Target::Step step = target->Feed(byte);
    if (step.reply >= 0)
        Reply(step.reply, arrival);
    switch (step.event) {
    case Target::Event::None:
        return -1;
    case Target::Event::Violation:
        Print("violation at image byte %ld: expected %s, received %s", target->HostPos(),
              step.text.c_str(), HexByte(byte).c_str());
        return Finish(ExitViolation);
    case Target::Event::Complete:
    case Target::Event::Injected:
    case Target::Event::Silent:
        complete = step.event == Target::Event::Complete;
        sessionEnd = arrival;
        mode = Mode::Quiet;
        modeDeadline = arrival + Ms(opt.quietMs);
        if (step.right >= 0 && opt.ForDownload(download).lateReplyMs >= 0) {
            // The quiet period starts when the late reply has gone out, so that it also
            // covers the host's answer to it.
            lateReply = step.right;
            lateReplyAt = Clock::now() + Ms(opt.ForDownload(download).lateReplyMs);
            modeDeadline = lateReplyAt + Ms(opt.quietMs);
            return -1;
        }
        if (opt.quietMs == 0)
            return EndSession();
        return -1;
    case Target::Event::Hangup:
        sessionEnd = arrival;
        mode = Mode::HangupWait;
        modeDeadline = arrival + Ms(std::max(opt.quietMs, MinHangupWaitMs));
        return -1;
    case Target::Event::CloseLine:
        return EndHangup();
    }
    return -1;
}

// Waits for input on the line until deadline, letting a stop signal through only
// while waiting. Returns 0 on input or deadline, -1 on a stop signal.
int Simulator::WaitForInput(Clock::time_point deadline, short &revents)
{
    revents = 0;
    const Clock::duration left = deadline - Clock::now();
    const long long ns =
        std::max<long long>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(left).count());
    timespec wait{time_t(ns / 1000000000), long(ns % 1000000000)};
    sigset_t unblocked;
    sigemptyset(&unblocked);
    pollfd pfd{line.Master(), POLLIN, 0};
    const int n = ::ppoll(&pfd, 1, &wait, &unblocked);
    if (n < 0 && errno == EINTR)
        return stopSignal ? -1 : 0;
    if (n > 0)
        revents = pfd.revents;
    return 0;
}

int Simulator::Run()
{
    if (!OpenLine())
        return ExitSystem;
    std::printf("%s\n", line.Device().c_str());
    std::fflush(stdout);
    NewSession();
    lastInput = Clock::now();

    for (;;) {
        if (stopSignal)
            return Finish(ExitOk);
        const Clock::time_point far = Clock::now() + std::chrono::hours(1);
        Clock::time_point deadline = far;
        if (mode != Mode::Receiving)
            deadline = modeDeadline;
        else if (target->InLockWait() && target->CarriageReturns() > 0)
            deadline = lastInput + Ms(std::max(opt.quietMs, MinLockQuietMs));
        const Clock::time_point timeoutAt =
            lastInput + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(opt.timeout));
        if (opt.timeout > 0)
            deadline = std::min(deadline, timeoutAt);
        if (lateReply >= 0)
            deadline = std::min(deadline, lateReplyAt);

        short revents = 0;
        if (WaitForInput(deadline, revents) < 0)
            return Finish(ExitOk);

        if (revents & (POLLIN | POLLHUP | POLLERR)) {
            std::uint8_t buffer[4096];
            const ssize_t n = ::read(line.Master(), buffer, sizeof buffer);
            const Clock::time_point readAt = Clock::now();
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                std::fprintf(stderr, "targetsim: read: %s\n", std::strerror(errno));
                return Finish(ExitSystem);
            }
            if (n > 0)
                lastInput = readAt;
            for (ssize_t i = 0; i < n; ++i) {
                const int code = HandleByte(buffer[i], Arrival(readAt));
                if (code >= 0)
                    return code;
                if (code == LineReplaced)
                    break;
            }
            if (n > 0)
                continue;
        }

        const Clock::time_point now = Clock::now();
        int code = -1;
        std::string failure;
        if (lateReply >= 0 && now >= lateReplyAt)
            SendLateReply();
        if (mode == Mode::Quiet && now >= modeDeadline) {
            code = EndSession();
        } else if (mode == Mode::HangupWait && now >= modeDeadline) {
            code = EndHangup();
        } else if (mode == Mode::Receiving && target->InLockWait()
                   && target->CarriageReturns() > 0
                   && now >= lastInput + Ms(std::max(opt.quietMs, MinLockQuietMs))
                   && target->LockAbandoned(failure)) {
            // The host has given up its lock wait; the quiet period is already over.
            complete = false;
            sessionEnd = lastInput;
            code = EndSession();
        } else if (opt.timeout > 0 && now >= timeoutAt) {
            Print("timeout: nothing received for %g seconds", opt.timeout);
            return Finish(ExitTimeout);
        }
        if (code >= 0)
            return code;
    }
}

int Simulator::RunEchoOnly()
{
    if (!OpenLine())
        return ExitSystem;
    std::printf("%s\n", line.Device().c_str());
    std::fflush(stdout);
    lastInput = Clock::now();
    for (;;) {
        if (stopSignal)
            return Finish(ExitOk);
        const Clock::time_point timeoutAt =
            lastInput + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(opt.timeout));
        const Clock::time_point deadline =
            opt.timeout > 0 ? timeoutAt : Clock::now() + std::chrono::hours(1);
        short revents = 0;
        if (WaitForInput(deadline, revents) < 0)
            return Finish(ExitOk);
        if (revents & (POLLIN | POLLHUP | POLLERR)) {
            std::uint8_t buffer[4096];
            const ssize_t n = ::read(line.Master(), buffer, sizeof buffer);
            const Clock::time_point readAt = Clock::now();
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                std::fprintf(stderr, "targetsim: read: %s\n", std::strerror(errno));
                return Finish(ExitSystem);
            }
            if (n > 0) {
                lastInput = readAt;
                for (ssize_t i = 0; i < n; ++i)
                    Reply(buffer[i], Arrival(readAt));
                echoed += n;
                continue;
            }
        }
        if (opt.timeout > 0 && Clock::now() >= timeoutAt) {
            Print("timeout: nothing received for %g seconds", opt.timeout);
            return Finish(ExitTimeout);
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "targetsim: %s (see --help)\n", error.c_str());
        return ExitUsage;
    }
    if (options.help) {
        std::fputs(HelpText(), stdout);
        return ExitOk;
    }
    if (!options.samplesDir.empty()) {
        if (!WriteSamples(options, error)) {
            std::fprintf(stderr, "targetsim: %s\n", error.c_str());
            return ExitSystem;
        }
        return ExitOk;
    }

    // The stop signals are blocked except while waiting for input, so one that comes
    // while a byte is handled is seen at the next wait.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

#ifdef __linux__
    // A sleep ends up to the timer slack (50 us by default) late, a fifth of a byte time.
    if (options.baudTime == BaudTime::Sleep)
        prctl(PR_SET_TIMERSLACK, 1UL);
#endif

    Simulator simulator(options);
    return options.echoOnly ? simulator.RunEchoOnly() : simulator.Run();
}
