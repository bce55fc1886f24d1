#include "form1.h"

#include <QApplication>
#include <QStandardPaths>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

#ifdef Q_OS_WIN
    const QString settingsPath = QStringLiteral("C:\\ZizUdederAdev11.cfg");
#else
    const QString settingsPath =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/ZizUdederAdev11.cfg");
#endif

    Form1 form(settingsPath);
    form.show();
    return app.exec();
}
