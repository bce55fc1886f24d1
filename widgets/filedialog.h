#pragma once

#include <QString>

class QWidget;

// The file-open dialog a window uses to pick a code file. The window sets InitDir and
// Filter, calls ShowOpen, and takes FileName only when the dialog was accepted.
class FileDialog
{
public:
    virtual ~FileDialog() = default;

    // Where the dialog starts: a folder, a file path (its folder, with the file
    // preselected), or empty.
    QString InitDir;
    // Filters as "description|pattern" pairs joined by '|', for example "*.hex|*.hex".
    QString Filter;
    // The file chosen last; left as it was when the dialog is cancelled.
    QString FileName;

    // Shows the dialog modally. Returns whether a file was chosen (then FileName holds it).
    virtual bool ShowOpen() = 0;
};

// The real dialog: opens one existing file; patterns match in any letter case.
class QtFileDialog : public FileDialog
{
public:
    explicit QtFileDialog(QWidget *parent = nullptr) : parent(parent) {}
    bool ShowOpen() override;

    // The dialog's name filters for a "description|pattern|..." text, the patterns
    // made to match in any letter case ("*.hex" also matches "X.HEX").
    static QStringList NameFilters(const QString &filter);

private:
    QWidget *parent;
};
