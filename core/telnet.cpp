#include "telnet.h"

#include <initializer_list>

namespace {

// A server that never ends a subnegotiation must not grow it without bound; the COM-port
// answers are a few bytes long.
constexpr int MaxSubnegotiation = 64;

constexpr quint32 BaudRate = 38400;
constexpr quint8 DataBits = 8;
constexpr quint8 NoParity = 1;
constexpr quint8 OneStopBit = 1;
constexpr quint8 NoFlowControl = 1;
constexpr quint8 RtsOn = 11;
// Answers to SetControl about RTS (on, off, its state) rather than flow control.
constexpr quint8 RtsAnswers[] = {11, 12, 13};

QByteArray Bytes(std::initializer_list<quint8> values)
{
    QByteArray bytes;
    for (quint8 value : values)
        bytes += char(value);
    return bytes;
}

QByteArray Negotiation(quint8 verb, quint8 option)
{
    return Bytes({TelnetStream::Iac, verb, option});
}

QByteArray ComPortCommand(quint8 command, const QByteArray &value)
{
    QByteArray bytes = Bytes({TelnetStream::Iac, TelnetStream::Sb, TelnetStream::OptionComPort, command});
    for (char b : value)
        bytes += TelnetStream::Escaped(quint8(b));
    return bytes + Bytes({TelnetStream::Iac, TelnetStream::Se});
}

QByteArray BaudRateBytes()
{
    return Bytes({quint8(BaudRate >> 24), quint8(BaudRate >> 16), quint8(BaudRate >> 8), quint8(BaudRate)});
}

bool WeOffer(quint8 option)
{
    return option == TelnetStream::OptionBinary || option == TelnetStream::OptionComPort;
}

// What the client lets the server do: send binary, leave out go-aheads. Not echo: the
// download compares the target's echo of every byte.
bool WeAccept(quint8 option)
{
    return option == TelnetStream::OptionBinary || option == TelnetStream::OptionSuppressGoAhead;
}

} // namespace

QByteArray TelnetStream::Greeting()
{
    oursAsked[OptionComPort] = oursAsked[OptionBinary] = true;
    theirsAsked[OptionBinary] = theirsAsked[OptionSuppressGoAhead] = true;
    return Negotiation(Will, OptionComPort) + Negotiation(Will, OptionBinary) + Negotiation(Do, OptionBinary)
         + Negotiation(Do, OptionSuppressGoAhead);
}

QByteArray TelnetStream::LineSettings()
{
    return ComPortCommand(SetBaudRate, BaudRateBytes()) + ComPortCommand(SetDataSize, QByteArray(1, char(DataBits)))
         + ComPortCommand(SetParity, QByteArray(1, char(NoParity)))
         + ComPortCommand(SetStopSize, QByteArray(1, char(OneStopBit)))
         + ComPortCommand(SetControl, QByteArray(1, char(NoFlowControl)))
         + ComPortCommand(SetControl, QByteArray(1, char(RtsOn)));
}

QByteArray TelnetStream::Escaped(quint8 byte)
{
    return byte == Iac ? QByteArray(2, char(Iac)) : QByteArray(1, char(byte));
}

QByteArray TelnetStream::Take(const QByteArray &bytes)
{
    QByteArray data;
    data.reserve(bytes.size());
    for (const char c : bytes) {
        const quint8 b = quint8(c);
        switch (state) {
        case State::Data:
            if (b == Iac)
                state = State::Iac;
            else
                data += c;
            break;
        case State::Iac:
            if (b == Iac) {
                data += c;
                state = State::Data;
            } else if (b == Sb) {
                sub.clear();
                state = State::Sub;
            } else if (b >= Will && b <= Dont) {
                verb = b;
                state = State::Verb;
            } else {
                // NOP, go-ahead, break and the other one-byte commands carry nothing here.
                state = State::Data;
            }
            break;
        case State::Verb:
            Command(verb, b);
            state = State::Data;
            break;
        case State::Sub:
            if (b == Iac)
                state = State::SubIac;
            else if (sub.size() < MaxSubnegotiation)
                sub += c;
            break;
        case State::SubIac:
            if (b == Se) {
                Subnegotiation();
                state = State::Data;
            } else {
                // A doubled 0xFF is one byte of the value; anything else is taken as one too.
                if (sub.size() < MaxSubnegotiation)
                    sub += c;
                state = State::Sub;
            }
            break;
        }
    }
    return data;
}

QByteArray TelnetStream::TakeReplies()
{
    QByteArray taken;
    taken.swap(replies);
    return taken;
}

void TelnetStream::Command(quint8 verb, quint8 option)
{
    switch (verb) {
    case Do:
        if (!WeOffer(option)) {
            replies += Negotiation(Wont, option);
        } else if (!ours[option]) {
            ours[option] = true;
            if (!oursAsked[option])
                replies += Negotiation(Will, option);
            oursAsked[option] = false;
        }
        if (option == OptionComPort && ours[option]) {
            comPortAgreed = true;
            comPortRefused = false;
        }
        break;
    case Dont:
        if (ours[option])
            replies += Negotiation(Wont, option);
        ours[option] = oursAsked[option] = false;
        if (option == OptionComPort) {
            comPortAgreed = false;
            comPortRefused = true;
        }
        break;
    case Will:
        if (!WeAccept(option)) {
            replies += Negotiation(Dont, option);
        } else if (!theirs[option]) {
            theirs[option] = true;
            if (!theirsAsked[option])
                replies += Negotiation(Do, option);
            theirsAsked[option] = false;
        }
        break;
    case Wont:
        if (theirs[option])
            replies += Negotiation(Dont, option);
        theirs[option] = theirsAsked[option] = false;
        break;
    }
}

void TelnetStream::Subnegotiation()
{
    if (sub.size() < 3 || quint8(sub[0]) != OptionComPort)
        return;
    const int command = quint8(sub[1]) - ServerOffset;
    const QByteArray value = sub.mid(2);
    QByteArray wanted;
    switch (command) {
    case SetBaudRate:
        wanted = BaudRateBytes();
        break;
    case SetDataSize:
        wanted = QByteArray(1, char(DataBits));
        break;
    case SetParity:
        wanted = QByteArray(1, char(NoParity));
        break;
    case SetStopSize:
        wanted = QByteArray(1, char(OneStopBit));
        break;
    case SetControl:
        for (quint8 rts : RtsAnswers)
            if (value == QByteArray(1, char(rts)))
                return;
        wanted = QByteArray(1, char(NoFlowControl));
        break;
    default:
        // Line and modem state notices, flow-control pauses: nothing the engine acts on.
        return;
    }
    answers[size_t(command)] = value == wanted ? 1 : 2;
}

bool TelnetStream::LineSet() const
{
    for (int command = SetBaudRate; command <= SetControl; ++command)
        if (answers[size_t(command)] != 1)
            return false;
    return true;
}

bool TelnetStream::LineRefused() const
{
    for (int command = SetBaudRate; command <= SetControl; ++command)
        if (answers[size_t(command)] == 2)
            return true;
    return false;
}
