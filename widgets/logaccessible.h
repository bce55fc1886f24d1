#pragma once

#include <QAccessibleWidget>
#include <QPlainTextEdit>

// The log box's own class, so that screen readers hear it through LogAccessible (the
// toolkit's own interface is found by the class name QPlainTextEdit).
class LogText : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit LogText(QWidget *parent);
};

// What a screen reader hears of the log box: its label's name, its text, and that it is
// read-only text, a record to read rather than a field to fill in (the technician may
// still type a note into it). Its text, cursor and selection are offered for reading and
// selecting as in any text box.
class LogAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit LogAccessible(QPlainTextEdit *box);

    QAccessible::State state() const override;
    QString text(QAccessible::Text t) const override;
    void *interface_cast(QAccessible::InterfaceType t) override;

    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;

private:
    QPlainTextEdit *Box() const;
};
