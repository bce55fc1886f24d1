#pragma once

#include <QString>
#include <QtGlobal>

// How a download ended: Programmed, or what failed. NotStarted is a download that never
// began (a front end with several boards, one of whose ports could not be opened).
enum class EndKind {
    Programmed,
    Load,         // a boot-table file could not be loaded, or the image is too small
    Port,         // the port could not be opened
    NoLock,       // no lock byte within the lock attempts
    WrongEcho,    // an image byte came back different
    RefusedAck,   // a block's end mark was answered with something other than 0x00
    Handshake,    // the handshake before a block was answered with something other than 0x0D
    Closing,      // a reply of the closing exchange was not 0x00
    PortLost,     // the line went away
    Stall,        // the board sent nothing for too long (given up by the front end)
    Interrupted,  // ended from outside (window closed, a stop signal)
    NotStarted,
};

// Where a download stands and, once it has ended, how. The engine keeps it; every front
// end reads it instead of the log's text.
struct DownloadAccount
{
    enum class Phase {
        Idle,      // no download yet
        LockWait,  // carriage returns go out; attempt says how many so far
        Transfer,  // image bytes, end marks, acknowledgements and handshakes
        Closing,   // the closing exchange of zero bytes
        Ended,
    };
    Phase phase = Phase::Idle;
    int attempt = 0;      // lock attempts made so far
    qint64 byte = 0;      // the image byte under way (its echo awaited), as the log counts
    qint64 echoed = 0;    // image bytes the board has echoed
    qint64 total = 0;     // bytes in the image
    int block = 0;        // the block under way
    // Seconds, all from a steady clock.
    double quietSeconds = 0;     // since the board last sent anything (transfer and closing)
    double transferSeconds = 0;  // from the first image byte on
    double totalSeconds = 0;     // from the start of the download

    // Once ended: what happened. expected and received are the bytes of a wrong reply
    // (-1 where there is none); file and line name a file that could not be loaded (line
    // 0 when no line is to blame); logLine is the log's own message about the end,
    // without the line breaks in front of it.
    EndKind kind = EndKind::NotStarted;
    Phase endedIn = Phase::Idle;  // the phase it was in when it ended
    int expected = -1;
    int received = -1;
    QString file;
    int line = 0;
    QString logLine;
};

// The colours the bar shows at the end; a window turns them into its own.
enum class BarColour { Plain, Done, Failed };

// What each way of ending is called: the exit status of orvant-flash (-1 for a board not
// started), its summary words, the JSON `result` and the bar's colour.
struct EndWords
{
    int status;
    const char *summary;
    const char *result;
    BarColour colour;
};

// The one table from an ending to its words.
EndWords WordsOf(EndKind kind);
// The bar's text once the download has ended.
QString EndBarText(const DownloadAccount &account);
// The bar's text while the board has been silent (account.quietSeconds).
QString SilentBarText(const DownloadAccount &account);
// Why a download failed, in one line (the JSON `reason`, the error line): the log's
// message without its dashes, a wrong echo with its position. Null when programmed.
QString EndReason(const DownloadAccount &account);
// A log line without the dashes and blanks in front.
QString WithoutDashes(const QString &line);
// A count of bytes as the bar and the progress line write it: "66,508".
QString ByteCount(qint64 count);
