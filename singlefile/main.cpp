#include "form1.h"

#include <QApplication>
#include <QStandardPaths>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

#ifdef Q_OS_WIN
    const QString settingsPath = QStringLiteral("C:\\ZizUdederAdev.cfg");
#else
    const QString settingsPath =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/ZizUdederAdev.cfg");
#endif

    Form1 window(settingsPath);
    window.show();
    return app.exec();
}
