#include "formbase.h"

#include "downloadimage.h"
#include "filedialog.h"
#include "formparts.h"
#include "logbox.h"
#include "paintthrottle.h"
#include "seriallink.h"
#include "statuslog.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

using FormParts::TwipsRect;

namespace {

// A text on one line of the log: line breaks shown escaped.
QString OneLine(QString text)
{
    text.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return text;
}

bool CanHoldPort(const QString &port)
{
    return SettingsFile::CanStore(port) || SettingsFile::CanStoreBare(port);
}

// At most this often the bar is painted during a transfer: painting it at every step of
// the image would slow the lock-step exchange down.
constexpr int BarPaintMs = 100;

// How often the open port's device is looked for while no download runs.
constexpr int PortWatchMs = 500;

// How often the bar checks for a silent board, and how long the board may be silent
// before the bar says so instead of a time left.
constexpr int SilenceCheckMs = 1000;
constexpr double SilentSeconds = 3;

const QString Dot = QStringLiteral(" \u00B7 ");

} // namespace

FormBase::FormBase(const QString &settingsPath, FileDialog *dialog, const QString &appPath,
                   const Layout &layout)
    : QWidget(nullptr)
    , Dialog(dialog)
    , settingsPath(settingsPath)
    , programFolder(appPath.isEmpty() ? QCoreApplication::applicationDirPath() : appPath)
    , image(std::make_unique<DownloadImage>())
    , log(std::make_unique<StatusLog>())
{
    if (!Dialog) {
        ownDialog = std::make_unique<QtFileDialog>(this);
        Dialog = ownDialog.get();
    }

    FormParts::SetUpWindow(this, layout.width, layout.height);
    Program = FormParts::MakePictureButton(this, QStringLiteral("Program"),
                                           QStringLiteral("Program"),
                                           FormParts::ProgramPicture(), layout.program);
    Program->setEnabled(false);
    txtInfo = FormParts::MakeTxtInfo(this);
    Label1 = FormParts::MakeLabel1(this);
    fileText = FormParts::MakeFileText(this);
    Label2 = FormParts::MakeLabel2(this);
    Combopuerto = FormParts::MakeCombopuerto(this, layout.ports);
    ComPort = FormParts::MakeComPort(this);
    // Shows how much of the image the target has echoed, and the time left.
    DownloadProgress = FormParts::MakeProgressBar(this, QStringLiteral("DownloadProgress"),
                                                  TwipsRect(1800, 1560, 7095, 315));

    // A screen reader names each box after the label above it.
    const std::pair<QLabel *, QWidget *> named[] = {
        {Label2, fileText}, {ComPort, Combopuerto}, {Label1, txtInfo}};
    for (const auto &[label, control] : named) {
        label->setBuddy(control);
        control->setAccessibleName(label->text());
    }

    box = std::make_unique<LogBox>(txtInfo);
    log->SetSink(box.get());
    link = std::make_unique<SerialLink>(*log);
    // Connected before the download's own handler: a loss that ends a download is the
    // download's to show, and this one sees it still running.
    connect(link.get(), &SerialLink::PortLost, this, [this] {
        if (!download->Running() && !openedPort.contains(QLatin1String("://")))
            PortGone();
    });
    download = std::make_unique<Download>(*image, *log, *link, *this);

    connect(download.get(), &Download::Progress, this, &FormBase::ShowProgress);
    connect(download.get(), &Download::Ended, this, &FormBase::ShowEnd);
    barPaint = new PaintThrottle(this, BarPaintMs, [this] {
        if (!download->Running())
            return;
        PaintProgress();
        AnnounceBar(DownloadProgress->text());
    });
    silenceTimer = new QTimer(this);
    silenceTimer->setInterval(SilenceCheckMs);
    connect(silenceTimer, &QTimer::timeout, this, &FormBase::CheckSilence);
    connect(Program, &QToolButton::clicked, this, &FormBase::StartProgramming);
    // Picking an entry from the list moves to that port at once; typed text is opened by
    // Enter, or by Program before it sends.
    const auto changePort = [this] { OpenShownPort(true); };
    connect(Combopuerto, qOverload<int>(&QComboBox::activated), this, changePort);
    connect(Combopuerto->lineEdit(), &QLineEdit::returnPressed, this, changePort);
    // The idle bar follows the box as the technician types.
    connect(Combopuerto, &QComboBox::editTextChanged, this, &FormBase::ShowReadiness);
    auto *watch = new QTimer(this);
    watch->setInterval(PortWatchMs);
    connect(watch, &QTimer::timeout, this, &FormBase::WatchPort);
    watch->start();
}

FormBase::~FormBase()
{
    // The log box goes with the window's children; nothing may be shown after this.
    log->SetSink(nullptr);
}

void FormBase::FormLoad()
{
    link->ConfigurePort();
    LoadSettings();
    OpenShownPort(false);
    AppPath = programFolder;
    ShowReadiness();
}

SettingsFile::ReadResult FormBase::ReadSettings(int count)
{
    const SettingsFile::ReadResult read = SettingsFile::Read(settingsPath, count);
    settingsBytes = read.bytes;
    // The window starts with its first-start controls; the operator learns why, and the
    // file, which may hold the technician's files and port, is kept for another try.
    if (read.status == SettingsFile::ReadStatus::Unreadable) {
        unreadSettings = read.reason;
        log->LogLine(QStringLiteral("---- Cannot read the settings file ")
                     + QDir::toNativeSeparators(settingsPath) + QStringLiteral(": ")
                     + read.reason);
    }
    return read;
}

void FormBase::SetPortText(const QString &text)
{
    Combopuerto->setEditText(text);
    if (CanHoldPort(text))
        storedPort = text;
}

bool FormBase::SaveSettings()
{
    QStringList values = SettingsValues();
    QString &port = values.last();
    if (CanHoldPort(port)) {
        storedPort = port;
    } else {
        log->LogLine(QStringLiteral("---- Cannot keep the port \"%1\" in the settings file: "
                                    "it keeps \"%2\"")
                         .arg(OneLine(port), storedPort));
        port = storedPort;
    }
    return WriteSettings(values);
}

bool FormBase::WriteSettings(const QStringList &values, const QVector<bool> &raw)
{
    // Only a change is written: a second window that changed nothing leaves the first
    // one's choices alone, and an unchanged file keeps its date.
    const QByteArray bytes = SettingsFile::Format(values, raw);
    if (bytes == settingsBytes)
        return true;
    // A file that could not be read is not replaced by this run's values: its own may
    // be worth more. The first save that would replace it says so, once.
    if (!unreadSettings.isEmpty()) {
        if (!unsavedReported)
            log->LogLine(QStringLiteral("---- Settings not saved: the settings file ")
                         + QDir::toNativeSeparators(settingsPath)
                         + QStringLiteral(" could not be read at start (") + unreadSettings
                         + QStringLiteral("), so it is left as it is"));
        unsavedReported = true;
        return false;
    }
    QString reason;
    if (!SettingsFile::Write(settingsPath, values, &reason, raw)) {
        log->LogLine(QStringLiteral("---- Cannot write the settings file ")
                     + QDir::toNativeSeparators(settingsPath) + QStringLiteral(": ") + reason);
        return false;
    }
    settingsBytes = bytes;
    return true;
}

bool FormBase::ChooseCodeFile(const QString &initDir, QString &chosen)
{
    Dialog->InitDir = initDir;
    Dialog->Filter = QStringLiteral("*.hex|*.hex");
    // A cancelled dialog changes nothing, the log included.
    if (!Dialog->ShowOpen())
        return false;
    if (!SettingsFile::CanStore(Dialog->FileName)) {
        // The name could not be written to the settings file and read back: it is not
        // taken.
        log->LogLine(QStringLiteral("---- Cannot use ") + OneLine(Dialog->FileName)
                     + QStringLiteral(": the settings file cannot hold this file name"));
        return false;
    }
    chosen = Dialog->FileName;
    return true;
}

void FormBase::EnableDownloadControls(bool enabled)
{
    Program->setEnabled(enabled);
    EnableOwnControls(enabled);
    Combopuerto->setEnabled(enabled);
}

void FormBase::OpenShownPort(bool change)
{
    openedPort = Combopuerto->currentText();
    portLost = false;
    if (change)
        link->ChangePort(openedPort);
    else
        link->OpenPort(openedPort);
    ShowReadiness();
}

void FormBase::StartProgramming()
{
    // A click let through while the lock wait runs events starts nothing.
    if (download->InLockWait())
        return;
    // The download opens the port the box shows.
    openedPort = Combopuerto->currentText();
    portLost = false;
    downloadShown = true;
    download->StartDownload(AppPath, FileToProgram, Combopuerto->currentText());
    if (download->Running())
        silenceTimer->start();
}

QList<FormBase::BarWords> FormBase::Readiness() const
{
    const QDir folder(programFolder);
    QStringList missing;
    for (const char *name : SupportFileNames) {
        if (!QFileInfo(folder.filePath(QLatin1String(name))).isFile())
            missing << QLatin1String(name);
    }
    if (!missing.isEmpty()) {
        // Several names leave little room for the folder: without it, the names whole.
        const QString names = missing.join(QStringLiteral(", "));
        const QString what = QStringLiteral("Support file%1 missing: ")
                                     .arg(missing.size() > 1 ? QStringLiteral("s") : QString());
        return {{what + names + QStringLiteral(" in "), QDir::toNativeSeparators(programFolder), {}},
                {what + names, {}, {}},
                {QStringLiteral("Missing: ") + names, {}, {}}};
    }
    if (FileToProgram.isEmpty() || !Program->isEnabled())
        return {{QStringLiteral("Choose a code file"), {}, {}}};
    const QFileInfo code(FileToProgram);
    if (!code.exists() || !code.isFile()) {
        // The folder may be cut, the file's name stays whole.
        const int name = int(qMax(FileToProgram.lastIndexOf(QLatin1Char('/')),
                                  FileToProgram.lastIndexOf(QLatin1Char('\\')))) + 1;
        return {{code.exists() ? QStringLiteral("Not a code file: ")
                               : QStringLiteral("Code file missing: "),
                 FileToProgram.left(name), FileToProgram.mid(name)}};
    }
    const QString shown = Combopuerto->currentText();
    if (shown != openedPort)
        return {{QStringLiteral("Port not open: "), shown, Dot + QStringLiteral("press Enter to open it")},
                {QStringLiteral("Port not open: "), shown, Dot + QStringLiteral("press Enter")}};
    if (portLost)
        return {{QStringLiteral("Port lost: "), shown, Dot + QStringLiteral("plug the adapter in again")},
                {QStringLiteral("Port lost: "), shown, {}}};
    if (!link->IsOpen())
        return {{QStringLiteral("Port not open: "), shown, {}}};
    return {{QStringLiteral("Ready"), {}, {}}};
}

void FormBase::ShowReadiness()
{
    if (download->Running())
        return;
    downloadShown = false;
    SetBarLook(BarLook::Plain);
    DownloadProgress->setRange(0, 1);
    DownloadProgress->setValue(0);
    const QList<BarWords> texts = Readiness();
    // This run's choices will be lost at close: said for as long as the window is open,
    // not only in the one log line that the next choice clears. On a narrow bar in
    // fewer words, and the state's own words before it.
    if (unreadSettings.isEmpty()) {
        SetBarText(texts);
        return;
    }
    QList<BarWords> warned;
    for (const QString &warning : {QStringLiteral("settings will not be saved: the file could not be read"),
                                   QStringLiteral("settings will not be saved")}) {
        for (BarWords words : texts) {
            words.after += Dot + warning;
            warned << words;
        }
    }
    SetBarText(warned + texts);
}

namespace {

// Whether a device is there: a device file, or a port the system reports (Windows ports
// are no files).
bool DevicePresent(const QString &device)
{
    if (device.isEmpty())
        return false;
    if (QFileInfo::exists(device))
        return true;
    const QList<SerialLink::PortInfo> ports = SerialLink::SystemPorts();
    return std::any_of(ports.cbegin(), ports.cend(),
                       [&](const SerialLink::PortInfo &port) { return port.device == device; });
}

} // namespace

void FormBase::WatchPort()
{
    // Network ports have no device to watch; a download watches its own line; a closed
    // window opens nothing.
    if (unloaded || download->Running() || openedPort.contains(QLatin1String("://")))
        return;
    if (link->IsOpen()) {
        const QString device = SerialLink::DeviceForPortText(openedPort);
        if (device == link->DeviceName() && DevicePresent(device))
            return;
        PortGone();
        return;
    }
    if (!portLost)
        return;
    const QString device = SerialLink::DeviceForPortText(openedPort);
    const bool there = DevicePresent(device);
    if (!there || device != lostDevice)
        portAway = true;
    // A port that was closed on a line error while its device stayed is not opened again
    // until the device has gone and come back: it would fail the same way.
    if (!there || !portAway)
        return;
    portAway = false;
    if (link->OpenPort(openedPort))
        portLost = false;
    if (!downloadShown)
        ShowReadiness();
}

void FormBase::PortGone()
{
    lostDevice = link->DeviceName();
    link->ClosePort();
    portLost = true;
    const QString device = SerialLink::DeviceForPortText(openedPort);
    portAway = device != lostDevice || !DevicePresent(device);
    if (!downloadShown)
        ShowReadiness();
}

void FormBase::ShowProgress(int echoed, int total)
{
    barEchoed = echoed;
    barTotal = total;
    // The moments before the transfer are shown at once; the transfer at most ten times a
    // second, the latest step at the latest a tenth of a second after it.
    if (echoed > 0) {
        barPaint->Changed();
        return;
    }
    barPaint->Cancel();
    PaintProgress();
    AnnounceBar(DownloadProgress->text());
}

void FormBase::PaintProgress()
{
    SetBarLook(BarLook::Plain);
    if (DownloadProgress->maximum() != barTotal)
        DownloadProgress->setRange(0, barTotal);
    DownloadProgress->setValue(qBound(0, barEchoed, barTotal));
    const DownloadAccount account = download->Account();
    if (account.phase == DownloadAccount::Phase::LockWait) {
        DownloadProgress->setFormat(QStringLiteral("Waiting for the board to answer") + Dot
                                    + ByteCount(barTotal) + QStringLiteral(" bytes to send"));
        return;
    }
    // A board silent for seconds in the lock-step exchange is shown as such, not as a
    // time left that would never come true.
    showingSilence = account.quietSeconds >= SilentSeconds;
    if (showingSilence)
        DownloadProgress->setFormat(SilentBarText(account));
    else
        DownloadProgress->setFormat(Download::ProgressText(barEchoed, barTotal, account.transferSeconds));
    if (!silenceTimer->isActive())
        silenceTimer->start();
}

void FormBase::CheckSilence()
{
    if (!download->Running()) {
        silenceTimer->stop();
        return;
    }
    // Repainted when the board is silent, and once more when bytes flow again.
    if (showingSilence || download->Account().quietSeconds >= SilentSeconds) {
        PaintProgress();
        AnnounceBar(DownloadProgress->text());
    }
}

void FormBase::ShowEnd(Download::Outcome how)
{
    barPaint->Cancel();
    silenceTimer->stop();
    showingSilence = false;
    // A window that is closing shows nothing more.
    if (unloaded || how == Download::Outcome::None || how == Download::Outcome::Running)
        return;
    const DownloadAccount account = download->Account();
    // The bar filled as far as the board echoed; all of it once programmed.
    const qint64 total = qMax<qint64>(1, account.total);
    const qint64 value = account.kind == EndKind::Programmed ? total : qBound<qint64>(0, account.echoed, total);
    switch (WordsOf(account.kind).colour) {
    case BarColour::Plain: SetBarLook(BarLook::Plain); break;
    case BarColour::Done: SetBarLook(BarLook::Done); break;
    case BarColour::Failed: SetBarLook(BarLook::Failed); break;
    }
    DownloadProgress->setRange(0, int(total));
    DownloadProgress->setValue(int(value));
    SetBarText(EndBarText(account));
}

void FormBase::SetBarText(const QString &text)
{
    SetBarText({BarWords{text, {}, {}}});
}

void FormBase::SetBarText(const QList<BarWords> &texts)
{
    // A long folder or port name would run off both ends of the centred text: the piece
    // that may be cut is cut in its middle, as long as a little of it stays.
    const QFontMetrics metrics = DownloadProgress->fontMetrics();
    const int room = DownloadProgress->width() - 2 * metrics.averageCharWidth();
    const auto fitted = [&](const BarWords &words) -> QString {
        const QString whole = words.before + words.cut + words.after;
        if (metrics.horizontalAdvance(whole) <= room)
            return whole;
        const int left = room - metrics.horizontalAdvance(words.before + words.after);
        if (words.cut.isEmpty() || left <= metrics.horizontalAdvance(QStringLiteral("\u2026xx")))
            return QString();
        return words.before + metrics.elidedText(words.cut, Qt::ElideMiddle, left) + words.after;
    };
    const BarWords &first = texts.constFirst();
    const QString whole = first.before + first.cut + first.after;
    QString shown;
    for (const BarWords &words : texts) {
        shown = fitted(words);
        if (!shown.isEmpty())
            break;
    }
    if (shown.isEmpty())
        shown = metrics.elidedText(whole, Qt::ElideMiddle, room);
    DownloadProgress->setFormat(shown);
    DownloadProgress->setToolTip(whole);
    AnnounceBar(whole);
}

void FormBase::AnnounceBar(const QString &words)
{
    // The accessible name changes with the words, so a screen reader hears each new
    // state; the value interface carries the share done.
    if (DownloadProgress->accessibleName() != words)
        DownloadProgress->setAccessibleName(words);
}

void FormBase::SetBarLook(BarLook look)
{
    // The bar's end colours, light enough for the text on them to stay readable; the
    // groove is tinted too, so that an end at byte 0 shows its colour as well.
    const char *chunk = nullptr;
    const char *groove = nullptr;
    switch (look) {
    case BarLook::Plain:
        break;
    case BarLook::Done:
        chunk = "#5cb85c";
        groove = "#dff0d8";
        break;
    case BarLook::Failed:
        chunk = "#e35d5d";
        groove = "#f5c2c2";
        break;
    }
    const QString sheet = chunk
        ? QStringLiteral("QProgressBar { border: 1px solid #8c8c8c; border-radius: 2px;"
                         " background: %1; color: black; text-align: center; }"
                         " QProgressBar::chunk { background: %2; }")
              .arg(QLatin1String(groove), QLatin1String(chunk))
        : QString();
    if (DownloadProgress->styleSheet() != sheet)
        DownloadProgress->setStyleSheet(sheet);
}

void FormBase::keyPressEvent(QKeyEvent *event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    auto *button = qobject_cast<QAbstractButton *>(focusWidget());
    // The button does not take Enter itself, so the key comes here. A held key presses
    // once.
    if (enter && button && button->isEnabled() && button->isVisible()) {
        if (!event->isAutoRepeat())
            button->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void FormBase::closeEvent(QCloseEvent *event)
{
    if (!unloaded) {
        unloaded = true;
        download->Abort(QStringLiteral("window closed"));
        SaveSettings();
        link->ClosePort();
    }
    QWidget::closeEvent(event);
}
