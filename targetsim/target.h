#pragma once

#include "options.h"

#include <cstdint>
#include <map>
#include <string>

// The target side of one download, byte by byte, without any I/O: each received byte
// goes to Feed, which says what to answer and whether the download has ended.
//
// Positions in messages are the host's send position: the index, counted over the
// whole image with the block headers, of the image byte the host is at (the last byte
// of a block while its end mark is awaited, the next block's first byte after the
// acknowledgement, the image size in the closing exchange).
class Target
{
public:
    enum class Event {
        None,
        Violation,   // the host broke the protocol; text says how
        Complete,    // the closing exchange is done
        Injected,    // a failure option fired; the host must send nothing more
        Silent,      // --silent-after fired: the host's next byte is taken unanswered
        Hangup,      // --hangup-after fired: close the line after the host's next byte
        CloseLine,   // the host's byte after --hangup-after has come: close the line now
    };

    struct Step
    {
        int reply = -1;  // byte to send back, -1 for none
        Event event = Event::None;
        std::string text;  // Violation: what was expected; Injected/Silent/Hangup: the failure
        int right = -1;    // Injected by a wrong reply: the reply that would have been right
    };

    Target(const SessionOptions &options, long download);

    Step Feed(std::uint8_t byte);

    // No byte for a while during the lock wait: true when carriage returns came and the
    // lock was not (yet) answered, so the host has given up. Ends the download.
    bool LockAbandoned(std::string &text);
    bool InLockWait() const { return phase == Phase::Lock; }
    long CarriageReturns() const { return crCount; }

    // What the injected failure was, for the download's closing line.
    const std::string &Failure() const { return failure; }

    int Blocks() const { return blocksDone; }
    long Words() const { return dataBytes / 2; }
    long Bytes() const { return received; }
    long HostPos() const;

    // Words programmed from block 4 on: address -> value.
    const std::map<std::uint16_t, std::uint16_t> &Flash() const { return flash; }

private:
    enum class Phase {
        Lock,
        Block,       // bytes of a block (its header included)
        EndMark,     // the block's last byte is echoed; 0xEE awaited
        AfterAck,    // a block is acknowledged; next block, handshake or closing
        Handshake2,  // the first handshake is answered; the second 0x0D awaited
        Closing,     // closing zeros
        SilentNext,  // --silent-after: one more byte taken unanswered
        HangupNext,  // --hangup-after: the host's next byte awaited before closing
        EndedComplete,
        EndedInjected,
    };

    Step BlockByte(std::uint8_t byte);
    Step Violation(const std::string &expected) const;
    Step AfterEcho(Step step, long index);
    Step Inject(Step step, const std::string &what, Phase next, int right = -1);

    SessionOptions opt;
    long download;
    Phase phase = Phase::Lock;
    long crCount = 0;
    long received = 0;  // image bytes received: the index of the next one
    int block = 0;      // index of the block being received, or of the next one
    int blocksDone = 0;
    long offset = 0;     // byte offset within the current block
    long blockLen = 0;   // bytes of the current block, known once its header is in
    std::uint8_t header[4] = {};
    long dataBytes = 0;
    int lowByte = 0;
    int closingZeros = 0;
    long endedPos = 0;  // the host's send position when the download ended
    std::string failure;
    std::map<std::uint16_t, std::uint16_t> flash;
};

// "0x0D": a byte as the messages show it.
std::string HexByte(int byte);
