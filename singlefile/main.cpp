#include "closeonsignal.h"
#include "form1.h"
#include "settingsplace.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Form1 form(SettingsPlace::ForProgram(QStringLiteral("ZizUdederAdev.cfg")));
    new CloseOnSignals(&form);
    form.show();
    return app.exec();
}
