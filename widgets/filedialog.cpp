#include "filedialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

namespace {

// "*.hex" becomes "*.[hH][eE][xX]": the dialog's own matching follows the file system's
// letter case, code files come as .hex and .HEX alike.
QString AnyCase(const QString &pattern)
{
    QString out;
    for (const QChar c : pattern) {
        if (c.isLetter() && c.toLower() != c.toUpper())
            out += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
        else
            out += c;
    }
    return out;
}

} // namespace

QStringList QtFileDialog::NameFilters(const QString &filter)
{
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        QStringList anyCase;
        for (const QString &pattern : patterns)
            anyCase << AnyCase(pattern.trimmed());
        result << parts[i] + QStringLiteral(" (") + anyCase.join(QLatin1Char(' '))
                      + QLatin1Char(')');
    }
    if (result.isEmpty())
        result << QStringLiteral("* (*)");
    return result;
}

bool QtFileDialog::ShowOpen()
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setNameFilters(NameFilters(Filter));

    if (!InitDir.isEmpty()) {
        const QFileInfo start(InitDir);
        if (start.isDir()) {
            dialog.setDirectory(start.absoluteFilePath());
        } else if (start.absoluteDir().exists()) {
            dialog.setDirectory(start.absolutePath());
            if (start.exists())
                dialog.selectFile(start.fileName());
        }
    }

    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    FileName = QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
    return true;
}
