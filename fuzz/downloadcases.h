#pragma once
// The small downloads that fuzz_download runs: four support files and the code files to
// choose from, as boot-table text, and the exchange of a download in which the target
// answers every byte as it should. Plain C++, shared with the seed maker.
//
// Every segment is shorter than 192 words, so each is one block of the image: 4 header
// bytes (address, word count minus 1) and the words, all low byte first. The words hold
// the bytes that mean something in the exchange (0x00, 0x0D, 0xAA, 0xEE), so that an
// image byte is never taken for one of them.
#include <cstdio>
#include <string>
#include <vector>

namespace downloadcase {

struct Segment
{
    unsigned address;
    std::vector<unsigned> words;
};

using File = std::vector<Segment>;

inline const std::vector<File> &SupportFiles()
{
    static const std::vector<File> files{
        {{0x0000, {0x0D0D, 0x0000}}},
        {{0x0010, {0xAAAA}}},
        {{0x0020, {0x00EE}}},
        {{0x0030, {0x0001}}},
    };
    return files;
}

// Code files of one, two and three blocks: block 4 alone, then with one and with two
// handshakes before later blocks.
inline const std::vector<File> &CodeFiles()
{
    static const std::vector<File> files{
        {{0x0040, {0x1234}}},
        {{0x0040, {0x1111, 0x2222}}, {0x8000, {0xABCD}}},
        {{0x0100, {0x0D00, 0xEEAA, 0x0D0D}}, {0x7FFF, {0xFFFF}}, {0x0000, {0xEE0D, 0x00AA, 0x0000}}},
    };
    return files;
}

inline std::string BootTable(const File &file)
{
    auto hex = [](unsigned value) {
        char text[8];
        std::snprintf(text, sizeof text, "%04X", value & 0xFFFF);
        return std::string(text) + "\r\n";
    };
    std::string text = "10AA\r\n";
    for (const Segment &s : file) {
        text += hex(unsigned(s.words.size())) + hex(s.address) + "0000\r\n";
        for (unsigned w : s.words)
            text += hex(w);
    }
    return text + "0\r\nend\r\n";
}

// What the host sends when every answer is right, and those answers: one after each byte
// sent but the last. kinds names each answer: e echo, a acknowledgement, h handshake,
// c closing zero.
struct Exchange
{
    std::string sent;
    std::string answers;
    std::string kinds;
};

inline Exchange RightExchange(const File &code)
{
    std::vector<Segment> blocks;
    for (const File &file : SupportFiles())
        blocks.insert(blocks.end(), file.begin(), file.end());
    blocks.insert(blocks.end(), code.begin(), code.end());

    Exchange exchange;
    auto say = [&exchange](unsigned host, unsigned target, char kind = 'e') {
        exchange.sent += char(host);
        exchange.answers += char(target);
        exchange.kinds += kind;
    };
    for (size_t k = 0; k < blocks.size(); ++k) {
        // Before each block after the fifth, two carriage returns, each echoed.
        if (k >= 5) {
            say(0x0D, 0x0D, 'h');
            say(0x0D, 0x0D, 'h');
        }
        std::vector<unsigned> words{blocks[k].address, unsigned(blocks[k].words.size() - 1)};
        words.insert(words.end(), blocks[k].words.begin(), blocks[k].words.end());
        for (unsigned w : words) {
            say(w & 0xFF, w & 0xFF);
            say((w >> 8) & 0xFF, (w >> 8) & 0xFF);
        }
        // The end mark, acknowledged with 0.
        say(0xEE, 0x00, 'a');
    }
    // The closing exchange: three zeros, the first two answered with 0.
    say(0x00, 0x00, 'c');
    say(0x00, 0x00, 'c');
    exchange.sent += '\0';
    return exchange;
}

} // namespace downloadcase
