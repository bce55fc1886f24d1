#pragma once
// One engine as a front end holds it, without a window: the image, the status log, the
// serial link and the download, with the enabling of the download controls recorded.

#include "download.h"
#include "downloadimage.h"
#include "seriallink.h"
#include "statuslog.h"

#include <QList>
#include <QString>

#include <memory>

struct Engine : DownloadControls
{
    StatusLog log;
    std::unique_ptr<DownloadImage> image = std::make_unique<DownloadImage>();
    SerialLink link{log};
    Download download{*image, log, link, *this};
    QList<bool> enabling;

    void EnableDownloadControls(bool enabled) override { enabling << enabled; }

    // The log with the elapsed time replaced by "E".
    QString Text() const;
    // The log from the programming line on (the loader's lines are tested on their own).
    QString Protocol() const;
    // Runs the event loop until the download has ended (false when time ran out).
    bool WaitUntilEnded(int ms = 20000);
};
