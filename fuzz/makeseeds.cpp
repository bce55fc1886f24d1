// Writes the seed corpora of the fuzz targets: the kinds of files the tests use, well
// formed and broken, each into its target's folder.
//   makeseeds DIR   ->  DIR/loader, DIR/assembly, DIR/settings, DIR/download
#include "downloadcases.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string Hex(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value & 0xFFFF);
    return text;
}

struct Segment
{
    unsigned address;
    unsigned words;
    unsigned first = 0;  // value of the first word; each next one adds 0x0101
};

// A boot-table file: first line, then per segment length, destination, skipped line and
// data, then 0 and the closing line.
std::string BootTable(const std::vector<Segment> &segments, const std::string &eol = "\r\n",
                      const std::string &closing = "0000")
{
    std::string text = "10AA" + eol;
    for (const Segment &s : segments) {
        text += Hex(s.words) + eol + Hex(s.address) + eol + "0000" + eol;
        for (unsigned i = 0; i < s.words; ++i)
            text += Hex(s.first + i * 0x0101) + eol;
    }
    return text + "0" + eol + closing + eol;
}

// Loader input: SplitFlag, blocks already in the image, their bytes, then the file.
std::string LoaderInput(bool split, unsigned blocks, unsigned bytes, const std::string &file)
{
    std::string header(6, '\0');
    header[0] = char(split ? 1 : 0);
    header[1] = char(blocks & 0xFF);
    header[2] = char(blocks >> 8);
    header[3] = char(bytes & 0xFF);
    header[4] = char((bytes >> 8) & 0xFF);
    header[5] = char(bytes >> 16);
    return header + file;
}

void Save(const fs::path &dir, const std::string &name, const std::string &bytes)
{
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) {
        std::fprintf(stderr, "makeseeds: cannot write %s\n", (dir / name).c_str());
        std::exit(1);
    }
}

void LoaderSeeds(const fs::path &dir)
{
    const std::string worked = BootTable({{0x40, 200}});
    Save(dir, "worked-unsplit", LoaderInput(false, 0, 0, worked));
    Save(dir, "worked-split", LoaderInput(true, 0, 0, worked));
    Save(dir, "two-segments", LoaderInput(false, 0, 0, BootTable({{0x40, 3}, {0x8000, 2, 0xABCD}}, "\r\n", "end of file")));
    Save(dir, "full-blocks", LoaderInput(false, 0, 0, BootTable({{0x40, 192}, {0x1000, 384}, {0x3000, 193}})));
    Save(dir, "lf-only", LoaderInput(false, 0, 0, BootTable({{0x40, 5}}, "\n")));
    Save(dir, "cr-only", LoaderInput(true, 0, 0, BootTable({{0x40, 5}}, "\r")));
    Save(dir, "blanks-and-empty-lines",
         LoaderInput(false, 0, 0, "10AA\r\n 3\r\n\t40 \r\n\r\n\r\n  abcd\t\r\nFfFf\r\n\r\nclosing\r\n"));
    Save(dir, "first-length-zero", LoaderInput(false, 0, 0, "0\r\n0\r\n40\r\nx\r\n2\r\n80\r\ny\r\n1\r\n2\r\n0\r\nend\r\n"));
    // Files that cannot be loaded.
    Save(dir, "five-digits", LoaderInput(false, 0, 0, "0\r\n1\r\n40\r\n0\r\n12345\r\n0\r\n0\r\n"));
    Save(dir, "length-8000", LoaderInput(false, 0, 0, "0\r\n8000\r\n40\r\n0\r\n"));
    Save(dir, "address-overflow", LoaderInput(false, 0, 0, BootTable({{0x7F80, 193}})));
    Save(dir, "ends-early", LoaderInput(false, 0, 0, worked.substr(0, worked.size() / 2)));
    Save(dir, "one-block-4000", LoaderInput(true, 0, 0, "0\r\n4000\r\n40\r\n0\r\n1\r\n"));
    Save(dir, "no-closing-line", LoaderInput(false, 0, 0, "0\r\n1\r\n40\r\n0\r\n1\r\n0"));
    Save(dir, "letter-in-word", LoaderInput(false, 0, 0, "0\r\n2\r\n40\r\n0\r\n12G4\r\n1\r\n0\r\nx\r\n"));
    Save(dir, "blank-between-digits", LoaderInput(true, 0, 0, "0\r\n1\r\n40\r\n0\r\n12 34\r\n0\r\nx\r\n"));
    Save(dir, "nul-in-length", LoaderInput(false, 0, 0, std::string("0\r\n1\0\r\n40\r\n0\r\n1\r\n0\r\nx\r\n", 23)));
    Save(dir, "intel-hex", LoaderInput(false, 0, 0, ":0400000000010203F6\r\n:00000001FF\r\n"));
    Save(dir, "support-without-block", LoaderInput(true, 3, 60, "10AA\r\n0\r\n0\r\n0\r\n0\r\nend\r\n"));
    // Near the limits of the arrays.
    Save(dir, "last-block-entry", LoaderInput(false, 256, 2000, BootTable({{0x40, 1}})));
    Save(dir, "block-table-full", LoaderInput(false, 256, 2000, BootTable({{0x40, 2}, {0x80, 1}})));
    Save(dir, "image-nearly-full", LoaderInput(false, 100, 131060, BootTable({{0x40, 4}})));
    Save(dir, "image-full", LoaderInput(false, 100, 131066, BootTable({{0x40, 2}})));
}

void AssemblySeeds(const fs::path &dir)
{
    auto join = [](const std::vector<std::string> &files) {
        std::string bytes;
        for (size_t i = 0; i < files.size(); ++i)
            bytes += (i ? std::string(1, '\0') : std::string()) + files[i];
        return bytes;
    };
    std::vector<std::string> support;
    for (unsigned i = 0; i < 4; ++i)
        support.push_back(BootTable({{0x10 * i, 1, 0xA0 + i}}, "\r\n", "support"));
    auto with = [&](const std::string &code) {
        std::vector<std::string> files = support;
        files.push_back(code);
        return join(files);
    };
    Save(dir, "six-blocks", with(BootTable({{0x8000, 1}, {0x8100, 1}}, "\r\n", "end")));
    Save(dir, "code-500-words", with(BootTable({{0x40, 500}})));
    Save(dir, "code-without-words", with("0\r\n0\r\n100\r\n0\r\n0\r\nno words\r\n"));
    Save(dir, "support-missing", join({support[0], support[1]}));
    Save(dir, "support-without-block",
         join({support[0], "10AA\r\n0\r\n0\r\n0\r\n0\r\nend\r\n", support[2], support[3],
               BootTable({{0x40, 200}})}));
    std::vector<Segment> many;
    for (unsigned k = 0; k < 260; ++k)
        many.push_back({0x100 * (k % 0x80), 1, k});
    Save(dir, "too-many-blocks", with(BootTable(many)));
    std::vector<Segment> several;
    for (unsigned k = 0; k < 3; ++k)
        several.push_back({0x200 * k, 2, k});
    std::vector<std::string> files{BootTable(several), support[1], support[2], support[3],
                                   BootTable({{0x40, 200}})};
    Save(dir, "kernel-of-three-segments", join(files));
    // Four support files of 3FFF words each: just too big for the image.
    std::vector<std::string> big;
    for (unsigned i = 0; i < 4; ++i)
        big.push_back(BootTable({{0, 0x3FFF}}));
    big.push_back(BootTable({{0x40, 1}}));
    Save(dir, "image-too-big", join(big));
}

void SettingsSeeds(const fs::path &dir)
{
    Save(dir, "multidrive", "\"C:\\a.hex\"\r\n\"\"\r\n\"\"\r\n\"TROX\"\r\n\"3\"\r\n");
    Save(dir, "multidrive-first", "\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"1\"\r\n");
    Save(dir, "single-first", "\"/home/u/bin\"\r\n1\r\n");
    Save(dir, "comma-in-path", "\"/x/a,b.hex\"\r\n\"1\"\r\n");
    Save(dir, "comma-between", "\"a\",\"b\"\r\n");
    Save(dir, "blank-line", "\"a\"\r\n\r\n\"c\"\r\n\"ZLB\"\r\n\"2\"\r\n");
    Save(dir, "bare-with-blanks", "  7 \r\n\" a \"\r\n");
    Save(dir, "mixed-line-ends", "\"a\"\n\"b\"\r\"c\"\n\"ZLA\"\r\n\"/dev/ttyUSB0\"");
    Save(dir, "text-after-quote", "\"a\"xyz\r\n\"b\"\r\n");
    Save(dir, "unterminated-quote", "\"a\r\nb");
    Save(dir, "unclosed-quote-in-line-1", "\"C:\\a.hex\r\n\"\"\r\n\"\"\r\n\"TROX\"\r\n\"3\"\r\n");
    Save(dir, "three-lines", "\"a\"\r\n\"b\"\r\n\"c\"\r\n");
    Save(dir, "latin1", "\"/home/j\xc3\xbcrgen/\xe9.hex\"\r\n\"1\"\r\n");
    Save(dir, "empty", "");
}

// Download input: the code file's number, then the target's answers.
void DownloadSeeds(const fs::path &dir)
{
    for (size_t c = 0; c < downloadcase::CodeFiles().size(); ++c) {
        const downloadcase::Exchange right = downloadcase::RightExchange(downloadcase::CodeFiles()[c]);
        const std::string code(1, char(c));
        const std::string name = "code" + std::to_string(c) + "-";
        Save(dir, name + "programmed", code + right.answers);
        Save(dir, name + "answers-after-the-end", code + right.answers + std::string("\xAA\x00\x0D\xEE", 4));
        Save(dir, name + "silent-halfway", code + right.answers.substr(0, right.answers.size() / 2));
        // The first answer of each kind (echo, acknowledgement, handshake, closing zero) wrong.
        for (const char kind : std::string("eahc")) {
            const size_t at = right.kinds.find(kind);
            if (at == std::string::npos)
                continue;
            std::string answers = right.answers;
            answers[at] = char(answers[at] ^ 0x41);
            Save(dir, name + "wrong-" + kind, code + answers);
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: makeseeds DIR\n");
        return 2;
    }
    const fs::path dir = argv[1];
    LoaderSeeds(dir / "loader");
    AssemblySeeds(dir / "assembly");
    SettingsSeeds(dir / "settings");
    DownloadSeeds(dir / "download");
    return 0;
}
