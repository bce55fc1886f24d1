#include "logaccessible.h"

#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>

namespace {

QAccessibleInterface *LogFactory(const QString &className, QObject *object)
{
    auto *box = qobject_cast<LogText *>(object);
    if (className != QLatin1String("LogText") || !box)
        return nullptr;
    return new LogAccessible(box);
}

} // namespace

LogAccessible::LogAccessible(QPlainTextEdit *box) : QAccessibleWidget(box, QAccessible::EditableText)
{
}

LogText::LogText(QWidget *parent) : QPlainTextEdit(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(LogFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

QPlainTextEdit *LogAccessible::Box() const
{
    return static_cast<QPlainTextEdit *>(widget());
}

QAccessible::State LogAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = true;
    state.editable = false;
    state.multiLine = true;
    state.selectableText = true;
    return state;
}

QString LogAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Value)
        return Box()->toPlainText();
    return QAccessibleWidget::text(t);
}

void *LogAccessible::interface_cast(QAccessible::InterfaceType t)
{
    if (t == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    return QAccessibleWidget::interface_cast(t);
}

void LogAccessible::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    const QTextCursor cursor = Box()->textCursor();
    const bool has = selectionIndex == 0 && cursor.hasSelection();
    *startOffset = has ? cursor.selectionStart() : 0;
    *endOffset = has ? cursor.selectionEnd() : 0;
}

int LogAccessible::selectionCount() const
{
    return Box()->textCursor().hasSelection() ? 1 : 0;
}

void LogAccessible::addSelection(int startOffset, int endOffset)
{
    setSelection(0, startOffset, endOffset);
}

void LogAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex != 0)
        return;
    QTextCursor cursor = Box()->textCursor();
    cursor.clearSelection();
    Box()->setTextCursor(cursor);
}

void LogAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex != 0)
        return;
    const int last = characterCount();
    QTextCursor cursor(Box()->document());
    cursor.setPosition(qBound(0, startOffset, last));
    cursor.setPosition(qBound(0, endOffset, last), QTextCursor::KeepAnchor);
    Box()->setTextCursor(cursor);
}

int LogAccessible::cursorPosition() const
{
    return Box()->textCursor().position();
}

void LogAccessible::setCursorPosition(int position)
{
    QTextCursor cursor(Box()->document());
    cursor.setPosition(qBound(0, position, characterCount()));
    Box()->setTextCursor(cursor);
}

QString LogAccessible::text(int startOffset, int endOffset) const
{
    return Box()->toPlainText().mid(startOffset, qMax(0, endOffset - startOffset));
}

int LogAccessible::characterCount() const
{
    return Box()->document()->characterCount() - 1;
}

QRect LogAccessible::characterRect(int offset) const
{
    QTextCursor cursor(Box()->document());
    cursor.setPosition(qBound(0, offset, characterCount()));
    QRect place = Box()->cursorRect(cursor);
    const QString character = Box()->toPlainText().mid(offset, 1);
    place.setWidth(QFontMetrics(Box()->font()).horizontalAdvance(character));
    return QRect(Box()->viewport()->mapToGlobal(place.topLeft()), place.size());
}

int LogAccessible::offsetAtPoint(const QPoint &point) const
{
    const QPoint local = Box()->viewport()->mapFromGlobal(point);
    if (!Box()->viewport()->rect().contains(local))
        return -1;
    return Box()->cursorForPosition(local).position();
}

void LogAccessible::scrollToSubstring(int startIndex, int endIndex)
{
    setSelection(0, startIndex, endIndex);
    Box()->ensureCursorVisible();
}

QString LogAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = offset;
    return QString();
}
