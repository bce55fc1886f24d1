#pragma once
// Answers a window's file dialog from a list: a path is a choice, nullopt a cancel.
// Records how the window set the dialog up each time.

#include "filedialog.h"

#include <QList>
#include <QStringList>

#include <optional>

class FakeDialog : public FileDialog
{
public:
    QList<std::optional<QString>> answers;
    QStringList initDirs;
    QStringList filters;

    bool ShowOpen() override
    {
        initDirs << InitDir;
        filters << Filter;
        const std::optional<QString> answer =
            answers.isEmpty() ? std::nullopt : answers.takeFirst();
        if (answer)
            FileName = *answer;
        return answer.has_value();
    }
};
