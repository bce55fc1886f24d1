// Runs a program's window against the simulated target with nobody at it: presses Program
// once the window is up, and closes the window when the download has ended, as an operator
// would. The log is printed when the window closes. The demo script uses it for
// `./run.sh demo --auto`, which needs no display; with PICTURE it also saves the window as
// it looks when the download has ended (the README's pictures).
//
//   demo-auto-multidrive SETTINGS_FILE APP_DIR [PICTURE.png]
//   demo-auto-singlefile SETTINGS_FILE APP_DIR [PICTURE.png]
//
// Exit status: 0 the board was programmed, 1 the download did not complete, 2 usage.
#include "form1.h"
#include "statuslog.h"

#include <QApplication>
#include <QTimer>
#include <QToolButton>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s SETTINGS_FILE APP_DIR [PICTURE.png]\n", argv[0]);
        return 2;
    }
    const QString picture = argc == 4 ? QString::fromLocal8Bit(argv[3]) : QString();
    Form1 form(QString::fromLocal8Bit(argv[1]), nullptr, QString::fromLocal8Bit(argv[2]));
    form.show();

    int status = 1;
    bool finished = false;
    const auto finish = [&] {
        if (finished)
            return;
        finished = true;
        if (!picture.isEmpty() && !form.grab().save(picture)) {
            std::fprintf(stderr, "cannot save the picture %s\n", qPrintable(picture));
            status = 1;
        }
        form.close();
        std::printf("%s\n", qPrintable(QString(form.Log().Text()).replace("\r\n", "\n")));
        app.exit(status);
    };
    QObject::connect(&form.Downloader(), &Download::Ended, &form,
                     [&](Download::Outcome outcome) {
                         status = outcome == Download::Outcome::Programmed ? 0 : 1;
                         // The last byte leaves and the window shows the end before it closes.
                         QTimer::singleShot(500, &form, finish);
                     });
    QTimer::singleShot(500, &form, [&] {
        if (!form.Program->isEnabled()) {
            std::fprintf(stderr, "Program is disabled: the settings name no code file\n");
            finish();
            return;
        }
        form.Program->click();
    });
    // A download of the demo's size takes seconds; a stuck one is given up.
    QTimer::singleShot(300000, &form, finish);
    return app.exec();
}
