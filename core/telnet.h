#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <array>

// The client side of a telnet connection that carries a serial line, with COM-port control
// (RFC 2217): the line's bytes travel as data, 0xFF doubled; option negotiation and
// subnegotiations are taken out of the stream. Plain bytes in, plain bytes out, no socket,
// so that any split of the stream into arrivals reads the same.
class TelnetStream
{
public:
    enum : quint8 {
        Se = 240, Sb = 250, Will = 251, Wont = 252, Do = 253, Dont = 254, Iac = 255,
        OptionBinary = 0, OptionSuppressGoAhead = 3, OptionComPort = 44,
    };
    // COM-port commands of the client; the server answers each with its code plus 100.
    enum : quint8 {
        SetBaudRate = 1, SetDataSize = 2, SetParity = 3, SetStopSize = 4, SetControl = 5,
        ServerOffset = 100,
    };

    // What the client sends first: it offers COM-port control and binary transmission both
    // ways, and asks the server not to send go-aheads.
    QByteArray Greeting();
    // The line settings the engine uses, as COM-port commands: 38400 baud, 8 data bits,
    // no parity, 1 stop bit, no flow control, RTS asserted.
    static QByteArray LineSettings();
    // One byte of the line as it goes on the connection (0xFF doubled).
    static QByteArray Escaped(quint8 byte);

    // Takes the bytes of one arrival: returns the line's bytes among them, in order, and
    // notes negotiation and COM-port answers. Answers that the client owes the server
    // collect in TakeReplies().
    QByteArray Take(const QByteArray &bytes);
    // Bytes to send back to the server; taken (and cleared) by the caller.
    QByteArray TakeReplies();

    // The server has agreed to COM-port control (DO), or refused it (DONT).
    bool ComPortAgreed() const { return comPortAgreed; }
    bool ComPortRefused() const { return comPortRefused; }
    // The server has answered every command of LineSettings() with the values asked for.
    bool LineSet() const;
    // The server answered a line setting with another value than the one asked for.
    bool LineRefused() const;

private:
    void Command(quint8 verb, quint8 option);
    void Subnegotiation();

    enum class State { Data, Iac, Verb, Sub, SubIac };
    State state = State::Data;
    quint8 verb = 0;
    QByteArray sub;
    QByteArray replies;
    bool comPortAgreed = false;
    bool comPortRefused = false;
    // Options each side has agreed to, so that an answer is given once and loops end.
    std::array<bool, 256> ours{};
    std::array<bool, 256> theirs{};
    // Options the client has asked for and the server not yet answered.
    std::array<bool, 256> oursAsked{};
    std::array<bool, 256> theirsAsked{};
    // The server's answers to SetBaudRate .. SetControl: 0 none yet, 1 as asked, 2 other.
    std::array<quint8, 6> answers{};
};
