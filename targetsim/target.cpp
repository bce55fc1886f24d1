#include "target.h"

#include <cstdio>

namespace {

constexpr std::uint8_t CR = 0x0D;
constexpr std::uint8_t LockByte = 0xAA;
constexpr std::uint8_t EndMark = 0xEE;
constexpr std::uint8_t Ack = 0x00;
constexpr std::uint8_t BadReply = 0x05;
constexpr std::uint8_t BadHandshakeReply = 0x41;
// Blocks 0 to 4 follow each other without a handshake.
constexpr int LastBlockWithoutHandshake = 4;
// Blocks 0 to 3 are the kernel and the flash algorithms; the user's code starts at 4.
constexpr int FirstCodeBlock = 4;

std::string Num(long n)
{
    return std::to_string(n);
}

} // namespace

std::string HexByte(int byte)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte & 0xff);
    return text;
}

Target::Target(const SessionOptions &options, long download) : opt(options), download(download)
{
}

long Target::HostPos() const
{
    switch (phase) {
    case Phase::Lock:
        return 0;
    case Phase::EndMark:
        return received - 1;
    case Phase::EndedComplete:
    case Phase::EndedInjected:
        return endedPos;
    default:
        return received;
    }
}

Target::Step Target::Violation(const std::string &expected) const
{
    Step step;
    step.event = Event::Violation;
    step.text = expected;
    return step;
}

Target::Step Target::Inject(Step step, const std::string &what, Phase next, int right)
{
    step.right = right;
    endedPos = HostPos();
    failure = what;
    phase = next;
    step.event = next == Phase::SilentNext   ? Event::Silent
                 : next == Phase::HangupNext ? Event::Hangup
                                             : Event::Injected;
    step.text = what;
    return step;
}

Target::Step Target::Feed(std::uint8_t byte)
{
    Step step;
    switch (phase) {
    case Phase::Lock:
        if (byte != CR)
            return Violation("0x0D (lock attempt)");
        ++crCount;
        if (!opt.noLock && crCount == opt.lockAfter) {
            step.reply = LockByte;
            phase = Phase::Block;
        }
        return step;

    case Phase::Block:
        return BlockByte(byte);

    case Phase::EndMark:
        if (byte != EndMark)
            return Violation("end mark 0xEE after block " + Num(block));
        ++blocksDone;
        if (block == opt.badAck) {
            step.reply = std::uint8_t(opt.badAckByte);
            return Inject(step, "acknowledgement " + HexByte(int(opt.badAckByte)) + " for block " + Num(block),
                          Phase::EndedInjected, Ack);
        }
        step.reply = Ack;
        ++block;
        phase = Phase::AfterAck;
        return step;

    case Phase::AfterAck:
        // Up to block 4 the next block follows at once, and its first byte may be any
        // value, 0x00 and 0x0D included (the low byte of its address).
        if (block <= LastBlockWithoutHandshake) {
            phase = Phase::Block;
            return BlockByte(byte);
        }
        if (byte == CR) {
            if (block == opt.badHandshake) {
                step.reply = BadHandshakeReply;
                return Inject(step, "handshake before block " + Num(block) + " answered with 0x41",
                              Phase::EndedInjected, CR);
            }
            step.reply = CR;
            phase = Phase::Handshake2;
            return step;
        }
        if (byte == 0x00) {
            closingZeros = 1;
            phase = Phase::Closing;
            if (opt.badClose == 1) {
                step.reply = BadReply;
                return Inject(step, "closing zero 1 answered with 0x05", Phase::EndedInjected,
                              0x00);
            }
            step.reply = 0x00;
            return step;
        }
        return Violation("0x0D or 0x00 after block " + Num(block - 1));

    case Phase::Handshake2:
        if (byte != CR)
            return Violation("second handshake 0x0D before block " + Num(block));
        step.reply = CR;
        phase = Phase::Block;
        return step;

    case Phase::Closing:
        if (byte != 0x00)
            return Violation("closing 0x00 (" + Num(closingZeros + 1) + " of 3)");
        ++closingZeros;
        if (closingZeros == 2) {
            if (opt.badClose == 2) {
                step.reply = BadReply;
                return Inject(step, "closing zero 2 answered with 0x05", Phase::EndedInjected,
                              0x00);
            }
            step.reply = 0x00;
            return step;
        }
        // The third zero is taken without an answer: the download is complete.
        endedPos = received;
        phase = Phase::EndedComplete;
        step.event = Event::Complete;
        return step;

    case Phase::SilentNext:
        // The host sent this in answer to the last echo; it gets no answer.
        failure += ", next byte " + HexByte(byte) + " not answered";
        endedPos = received;
        phase = Phase::EndedInjected;
        return step;

    case Phase::HangupNext:
        endedPos = received;
        phase = Phase::EndedInjected;
        step.event = Event::CloseLine;
        return step;

    case Phase::EndedComplete:
        return Violation("silence after the end of download " + Num(download));

    case Phase::EndedInjected:
        return Violation("silence after the injected failure");
    }
    return step;
}

Target::Step Target::BlockByte(std::uint8_t byte)
{
    const long index = received++;
    if (offset < 4)
        header[offset] = byte;
    if (offset == 3)
        blockLen = 4 + 2 * (long(header[2] | header[3] << 8) + 1);
    if (offset >= 4) {
        ++dataBytes;
        if ((offset - 4) % 2 == 0) {
            lowByte = byte;
        } else if (block >= FirstCodeBlock) {
            const unsigned address = unsigned(header[0] | header[1] << 8) + unsigned((offset - 5) / 2);
            flash[std::uint16_t(address)] = std::uint16_t(lowByte | byte << 8);
        }
    }
    ++offset;
    if (offset >= 4 && offset == blockLen) {
        offset = 0;
        blockLen = 0;
        phase = Phase::EndMark;
    }
    Step step;
    step.reply = byte;
    return AfterEcho(step, index);
}

Target::Step Target::AfterEcho(Step step, long index)
{
    if (index == opt.wrongEcho) {
        const int right = step.reply;
        step.reply ^= 0x01;
        Step injected = Inject(step, "wrong echo at image byte " + Num(index), Phase::EndedInjected,
                               right);
        endedPos = index;
        return injected;
    }
    if (index == opt.silentAfter)
        return Inject(step, "silent after image byte " + Num(index), Phase::SilentNext);
    if (index == opt.hangupAfter)
        return Inject(step, "line closed after image byte " + Num(index), Phase::HangupNext);
    return step;
}

bool Target::LockAbandoned(std::string &text)
{
    if (phase != Phase::Lock || crCount == 0)
        return false;
    text = opt.noLock ? "no lock: " + Num(crCount) + " carriage returns not answered"
                      : "lock not answered: " + Num(crCount) + " carriage returns received, "
                            + "the lock answers number " + Num(opt.lockAfter);
    failure = text;
    endedPos = 0;
    phase = Phase::EndedInjected;
    return true;
}
