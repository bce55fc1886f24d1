#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

bool ParseLong(const std::string &text, int base, long &value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    errno = 0;
    char *end = nullptr;
    const long v = std::strtol(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0')
        return false;
    value = v;
    return true;
}

bool ParseSeconds(const std::string &text, double &value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    errno = 0;
    char *end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !(v >= 0) || v > 1e6)
        return false;
    value = v;
    return true;
}

// Takes the value of option args[i] into text; false when it is missing.
bool TakeValue(const std::vector<std::string> &args, size_t &i, std::string &text,
               std::string &error)
{
    if (i + 1 >= args.size()) {
        error = args[i] + " needs a value";
        return false;
    }
    text = args[++i];
    return true;
}

bool TakeNumber(const std::vector<std::string> &args, size_t &i, long min, long max, long &value,
                std::string &error)
{
    const std::string name = args[i];
    std::string text;
    if (!TakeValue(args, i, text, error))
        return false;
    long v = 0;
    if (!ParseLong(text, 10, v) || v < min || v > max) {
        error = name + ": '" + text + "' is not a whole number from " + std::to_string(min)
                + " to " + std::to_string(max);
        return false;
    }
    value = v;
    return true;
}

constexpr long Big = 0x7fffffffL;

// One of the failure options at args[i]. Returns 1 when taken, 0 when args[i] is not
// one of them, -1 on a bad value.
int TakeSessionOption(const std::vector<std::string> &args, size_t &i, SessionOptions &s,
                      std::string &error)
{
    const std::string &a = args[i];
    bool ok = true;
    if (a == "--no-lock")
        s.noLock = true;
    else if (a == "--lock-after")
        ok = TakeNumber(args, i, 1, Big, s.lockAfter, error);
    else if (a == "--wrong-echo")
        ok = TakeNumber(args, i, 0, Big, s.wrongEcho, error);
    else if (a == "--bad-ack")
        ok = TakeNumber(args, i, 0, Big, s.badAck, error);
    else if (a == "--bad-ack-byte") {
        std::string text;
        ok = TakeValue(args, i, text, error);
        if (ok && (!ParseLong(text, 16, s.badAckByte) || s.badAckByte < 1 || s.badAckByte > 0xFF)) {
            error = "--bad-ack-byte: '" + text + "' is not a hex byte from 01 to FF";
            ok = false;
        }
    } else if (a == "--bad-handshake")
        ok = TakeNumber(args, i, 5, Big, s.badHandshake, error);
    else if (a == "--bad-close")
        ok = TakeNumber(args, i, 1, 2, s.badClose, error);
    else if (a == "--silent-after")
        ok = TakeNumber(args, i, 0, Big, s.silentAfter, error);
    else if (a == "--hangup-after")
        ok = TakeNumber(args, i, 0, Big, s.hangupAfter, error);
    else if (a == "--late-reply")
        ok = TakeNumber(args, i, 0, 3600000, s.lateReplyMs, error);
    else
        return 0;
    return ok ? 1 : -1;
}

std::vector<std::string> SplitBlanks(const std::string &line)
{
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string w;
    while (in >> w)
        words.push_back(w);
    return words;
}

bool ReadSessionFile(const std::string &path, std::vector<SessionOptions> &lines,
                     std::string &error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read session file " + path;
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        SessionOptions s;
        std::string lineError;
        if (!ParseSessionLine(line, s, lineError)) {
            error = path + ": line " + std::to_string(number) + ": " + lineError;
            return false;
        }
        lines.push_back(s);
    }
    return true;
}

} // namespace

const SessionOptions &Options::ForDownload(long k) const
{
    if (k >= 1 && static_cast<size_t>(k) <= sessionLines.size())
        return sessionLines[static_cast<size_t>(k - 1)];
    return session;
}

bool ParseSessionLine(const std::string &line, SessionOptions &session, std::string &error)
{
    const std::vector<std::string> args = SplitBlanks(line);
    for (size_t i = 0; i < args.size(); ++i) {
        const int taken = TakeSessionOption(args, i, session, error);
        if (taken < 0)
            return false;
        if (taken == 0) {
            error = "not a failure option: " + args[i];
            return false;
        }
    }
    return true;
}

bool ParseOptions(int argc, char **argv, Options &o, std::string &error)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        const int taken = TakeSessionOption(args, i, o.session, error);
        if (taken < 0)
            return false;
        if (taken > 0)
            continue;
        bool ok = true;
        std::string text;
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--link") {
            ok = TakeValue(args, i, o.link, error);
        } else if (a == "--downloads") {
            ok = TakeNumber(args, i, 0, Big, o.downloads, error);
        } else if (a == "--quiet-ms") {
            ok = TakeNumber(args, i, 0, 3600000, o.quietMs, error);
        } else if (a == "--flash-out") {
            ok = TakeValue(args, i, o.flashOut, error);
        } else if (a == "--timeout") {
            ok = TakeValue(args, i, text, error);
            if (ok && !ParseSeconds(text, o.timeout)) {
                error = "--timeout: '" + text + "' is not a number of seconds";
                ok = false;
            }
        } else if (a == "--baud-time" || a == "--baud-time=spin") {
            o.baudTime = BaudTime::Spin;
        } else if (a == "--baud-time=sleep") {
            o.baudTime = BaudTime::Sleep;
        } else if (a.rfind("--baud-time=", 0) == 0) {
            error = "--baud-time: '" + a.substr(12) + "' is not spin or sleep";
            ok = false;
        } else if (a == "--echo-only") {
            o.echoOnly = true;
        } else if (a == "--session-file") {
            ok = TakeValue(args, i, o.sessionFile, error);
        } else if (a == "--write-samples") {
            ok = TakeValue(args, i, o.samplesDir, error);
        } else if (a == "--words") {
            ok = TakeNumber(args, i, 1, 0x8000, o.words, error);
        } else if (a == "--code-name") {
            ok = TakeValue(args, i, o.codeName, error);
            if (ok && (o.codeName.empty() || o.codeName.find('/') != std::string::npos
                       || o.codeName == "." || o.codeName == "..")) {
                error = "--code-name: '" + o.codeName + "' is not a plain file name";
                ok = false;
            }
        } else if (a == "--seed") {
            long seed = 0;
            ok = TakeNumber(args, i, 0, 0xffffffffL, seed, error);
            o.seed = static_cast<unsigned long>(seed);
        } else if (a == "--base") {
            ok = TakeValue(args, i, text, error);
            if (ok && (!ParseLong(text, 16, o.base) || o.base > 0x7fff)) {
                error = "--base: '" + text + "' is not a hex address from 0 to 7FFF";
                ok = false;
            }
        } else {
            error = "unknown option: " + a;
            ok = false;
        }
        if (!ok)
            return false;
    }
    if (o.help)
        return true;
    if (!o.samplesDir.empty()) {
        if (o.base >= 0 && o.base + o.words > 0x8000) {
            error = "--base and --words: the code would run past address 7FFF";
            return false;
        }
        return true;
    }
    if (!o.sessionFile.empty() && !ReadSessionFile(o.sessionFile, o.sessionLines, error))
        return false;
    return true;
}

const char *HelpText()
{
    return "usage: targetsim [options]\n"
           "Plays the target side of the flash download protocol on a pseudo-terminal and\n"
           "checks every byte it receives. Prints the device path on the first line.\n"
           "\n"
           "  --link PATH           make a symlink PATH to the device (kept up to date)\n"
           "  --downloads N         serve N downloads, then exit (default 1, 0 = unlimited)\n"
           "  --quiet-ms MS         quiet period checked after each download (default 300)\n"
           "  --flash-out FILE      write the programmed words after each complete download\n"
           "  --timeout SECONDS     exit with status 3 when nothing arrives that long (0 = never)\n"
           "  --baud-time[=spin]    answer after the wire time of 38400 baud, not at once\n"
           "  --baud-time=sleep     the same, sleeping until a reply is due instead of spinning\n"
           "  --echo-only           echo every byte, nothing else (for benchmarks)\n"
           "  --session-file FILE   line i holds the failure options of download i\n"
           "  --no-lock             never answer the lock\n"
           "  --lock-after N        answer the N-th carriage return with 0xAA (default 2)\n"
           "  --wrong-echo N        echo image byte N XOR 0x01\n"
           "  --bad-ack K           answer the end mark of block K with 0x05\n"
           "  --bad-ack-byte XX     the byte --bad-ack answers with instead (hex, 01 to FF)\n"
           "  --bad-handshake K     answer the first handshake before block K (>= 5) with 0x41\n"
           "  --bad-close M         answer the M-th closing zero (1 or 2) with 0x05\n"
           "  --silent-after N      echo image byte N, then answer nothing more\n"
           "  --hangup-after N      echo image byte N, then close the line\n"
           "  --late-reply MS       MS ms after a wrong echo, acknowledgement, handshake or\n"
           "                        closing reply, send the right one too\n"
           "  --write-samples DIR   write four placeholder support files and a code file, exit\n"
           "  --words N             words in the sample code file (default 200, at most 32768)\n"
           "  --code-name NAME      name of the sample code file (default sample.hex)\n"
           "  --seed S              seed of the sample contents (default 1)\n"
           "  --base ADDR           hex start address of the sample code (default 0040 or 0000)\n"
           "  --help                show this text\n"
           "\n"
           "Exit status: 0 done, 1 protocol violation, 2 usage error, 3 timeout,\n"
           "4 system error (pseudo-terminal or file).\n";
}
