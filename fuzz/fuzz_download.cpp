// The download's exchange with the target (core/download.h) under arbitrary answers.
//
// Input: byte 0 picks the code file of the image (downloadcases.h); every later byte is one
// arrival from the target, handed to the download on its own.
//
// Rules: while the answers are right the host sends exactly the bytes of a correct
// exchange, one after each answer, and it ends Programmed after the last right answer and
// only then; the first wrong answer ends it TransferFailed with nothing sent for it and the
// download controls still disabled; after the end nothing more is sent, whatever arrives.
#include "download.h"
#include "downloadcases.h"
#include "downloadport.h"
#include "fuzzcommon.h"
#include "statuslog.h"

#include <QCoreApplication>

#include <memory>

namespace {

// The line records what the download sends. The target answers the lock as soon as the
// port is taken: the lock wait then ends before its first carriage return, instead of
// after a pause of 100 ms.
class RecordingPort : public DownloadPort
{
public:
    bool IsOpen() const override { return true; }
    void SendByte(quint8 value) override { sent += char(value); }
    bool UsePort(const QString &) override
    {
        emit Received(QByteArray(1, char(0xAA)));
        return true;
    }

    std::string sent;
};

struct Controls : DownloadControls
{
    void EnableDownloadControls(bool on) override { enabled = on; }
    bool enabled = true;
};

struct State
{
    StatusLog log;
    std::unique_ptr<DownloadImage> image = std::make_unique<DownloadImage>();
    RecordingPort port;
    Controls controls;
    Download download{*image, log, port, controls};
    std::vector<QString> codePaths;
    std::vector<downloadcase::Exchange> right;
};

State *state = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Qt's own options are no business of the fuzzer's, nor libFuzzer's of Qt's.
    static int qtArgc = 1;
    static char *qtArgv[] = {(*argv)[0], nullptr};
    (void)argc;
    new QCoreApplication(qtArgc, qtArgv);
    state = new State;
    for (int i = 0; i < 4; ++i)
        fuzz::WriteScratchFile(QLatin1String(SupportFileNames[i]),
                               QByteArray::fromStdString(downloadcase::BootTable(
                                       downloadcase::SupportFiles()[size_t(i)])));
    for (size_t i = 0; i < downloadcase::CodeFiles().size(); ++i) {
        const downloadcase::File &code = downloadcase::CodeFiles()[i];
        state->codePaths.push_back(fuzz::WriteScratchFile(
                QStringLiteral("code%1.hex").arg(i),
                QByteArray::fromStdString(downloadcase::BootTable(code))));
        state->right.push_back(downloadcase::RightExchange(code));
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t pick = data[0] % state->codePaths.size();
    const downloadcase::Exchange &right = state->right[pick];
    Download &download = state->download;
    std::string &sent = state->port.sent;
    sent.clear();

    download.StartDownload(fuzz::Scratch().path(), state->codePaths[pick], QStringLiteral("line"));
    FUZZ_REQUIRE(download.Running());
    FUZZ_REQUIRE(sent == right.sent.substr(0, 1));

    size_t answered = 0; // right answers so far
    for (size_t i = 1; i < size; ++i) {
        const Download::Outcome before = download.Result();
        const size_t sentBefore = sent.size();
        const char answer = char(data[i]);
        download.HandleInput(QByteArray(1, answer));
        if (before != Download::Outcome::Running) {
            FUZZ_REQUIRE(sent.size() == sentBefore);
            FUZZ_REQUIRE(download.Result() == before);
            continue;
        }
        if (answer != right.answers[answered]) {
            FUZZ_REQUIRE(download.Result() == Download::Outcome::TransferFailed);
            FUZZ_REQUIRE(sent.size() == sentBefore);
            FUZZ_REQUIRE(!state->controls.enabled);
            continue;
        }
        ++answered;
        FUZZ_REQUIRE(sent == right.sent.substr(0, answered + 1));
        if (answered == right.answers.size()) {
            FUZZ_REQUIRE(download.Result() == Download::Outcome::Programmed);
            FUZZ_REQUIRE(state->controls.enabled);
        } else {
            FUZZ_REQUIRE(download.Result() == Download::Outcome::Running);
        }
    }

    // A download the input left waiting is ended, for the next input to start afresh.
    const size_t sentBefore = sent.size();
    download.Abort(QStringLiteral("the input ended"));
    FUZZ_REQUIRE(!download.Running() && sent.size() == sentBefore);
    return 0;
}
