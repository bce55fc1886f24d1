#include "samples.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <vector>

namespace {

// Words per segment of the code file (a segment may hold up to 7FFF).
constexpr long CodeSegmentWords = 0x4000;
// Code below 8000 must not run past 7FFF.
constexpr long AddressEnd = 0x8000;
constexpr long DefaultBase = 0x0040;

struct Segment
{
    unsigned address;
    std::vector<unsigned> words;
};

std::string Hex4(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value & 0xffff);
    return text;
}

// A boot-table text file: a word, then per segment its length, destination, one
// skipped line and the data words, then 0000 and the closing line. CR LF line ends.
bool WriteBootTable(const std::string &path, const std::vector<Segment> &segments,
                    const std::string &closing, std::string &error)
{
    std::string text;
    auto line = [&text](const std::string &s) { text += s + "\r\n"; };
    line("10AA");
    for (const Segment &segment : segments) {
        line(Hex4(unsigned(segment.words.size())));
        line(Hex4(segment.address));
        line("0000");
        for (unsigned word : segment.words)
            line(Hex4(word));
    }
    line("0000");
    line(closing);

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), std::streamsize(text.size()));
    out.close();
    if (!out) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace

bool WriteSamples(const Options &options, std::string &error)
{
    const std::string &dir = options.samplesDir;
    if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        error = "cannot create " + dir + ": " + std::strerror(errno);
        return false;
    }
    std::mt19937 random(static_cast<std::mt19937::result_type>(options.seed));
    auto randomWord = [&random] { return unsigned(random() & 0xffff); };

    // One segment each, in the upper memory half: their headers begin with 0x00, so the
    // byte after an acknowledgement is a zero that is not a closing zero.
    struct Support
    {
        const char *name;
        unsigned address;
        const char *what;
    };
    const Support supports[4] = {
        {"krnl24xx.hex", 0x8000, "kernel"},
        {"clr24_x1.hex", 0x8400, "clear algorithm"},
        {"era24_x1.hex", 0x8800, "erase algorithm"},
        {"prg24_x1.hex", 0x8C00, "program algorithm"},
    };
    for (const Support &support : supports) {
        Segment segment{support.address, {}};
        const unsigned count = 24 + random() % 40;
        for (unsigned i = 0; i < count; ++i)
            segment.words.push_back(randomWord());
        if (!WriteBootTable(dir + "/" + support.name, {segment},
                            std::string("PLACEHOLDER - not a real ") + support.what, error))
            return false;
    }

    // The code: the protocol's special byte values first, then pseudo-random words.
    const long words = options.words;
    const long base = options.base >= 0 ? options.base
                      : words > AddressEnd - DefaultBase ? 0
                                                         : DefaultBase;
    const unsigned special[] = {0x0D00, 0xEEAA, 0x00FF, 0xAA0D, 0xFFEE};
    std::vector<Segment> segments;
    for (long done = 0; done < words; done += CodeSegmentWords) {
        Segment segment{unsigned(base + done), {}};
        const long count = std::min(CodeSegmentWords, words - done);
        for (long i = 0; i < count; ++i) {
            const long index = done + i;
            segment.words.push_back(index < 5 ? special[index] : randomWord());
        }
        segments.push_back(segment);
    }
    return WriteBootTable(dir + "/" + options.codeName, segments,
                          "SAMPLE - pseudo-random code words", error);
}
