#pragma once

#include <string>
#include <vector>

// What the target does wrong in one download, on purpose. -1 means "not set".
struct SessionOptions
{
    bool noLock = false;     // never answer the lock
    long lockAfter = 2;      // answer the N-th carriage return with 0xAA
    long wrongEcho = -1;     // echo image byte N XOR 0x01
    long badAck = -1;        // answer block K's end mark with badAckByte
    long badAckByte = 0x05;  // the wrong acknowledgement of --bad-ack
    long badHandshake = -1;  // answer the first handshake before block K (K >= 5) with 0x41
    long badClose = -1;      // answer the M-th closing zero (1 or 2) with 0x05
    long silentAfter = -1;   // echo image byte N, then answer nothing more
    long hangupAfter = -1;   // echo image byte N, then close the line
    long lateReplyMs = -1;   // MS after a wrong reply, send the right one (-1: never)
};

// How --baud-time waits until a reply is due.
enum class BaudTime { Off, Spin, Sleep };

struct Options
{
    SessionOptions session;  // from the command line: for every download not in the session file
    std::vector<SessionOptions> sessionLines;  // from --session-file, download i at index i-1

    std::string link;
    long downloads = 1;  // 0 = unlimited
    long quietMs = 300;
    std::string flashOut;
    double timeout = 0;  // seconds, 0 = none
    BaudTime baudTime = BaudTime::Off;
    bool echoOnly = false;
    std::string sessionFile;

    std::string samplesDir;  // --write-samples
    long words = 200;
    std::string codeName = "sample.hex";
    unsigned long seed = 1;
    long base = -1;  // -1: chosen from the word count

    bool help = false;

    // The options of download number k (1-based).
    const SessionOptions &ForDownload(long k) const;
};

// Parses the command line. On a usage error returns false and sets error.
bool ParseOptions(int argc, char **argv, Options &options, std::string &error);

// Parses one line of a session file (the failure options only). Returns false and sets
// error on anything else.
bool ParseSessionLine(const std::string &line, SessionOptions &session, std::string &error);

// One line per option.
const char *HelpText();
