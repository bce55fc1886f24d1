// The status log shown in a standalone log box.

#include "logbox.h"
#include "statuslog.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QtTest>

#include <memory>

class TestStatusLog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void linesAndAppends_data();
    void linesAndAppends();
    void clearEmptiesEverything();
    void operatorCursorAndSelectionStayPut_data();
    void operatorCursorAndSelectionStayPut();
    void typedTextStaysUntilClear();
    void newestTextIsKeptInView();

private:
    // A fresh box, its sink and the log for each test.
    std::unique_ptr<QPlainTextEdit> box;
    std::unique_ptr<LogBox> sink;
    StatusLog log;
};

void TestStatusLog::init()
{
    box = std::make_unique<QPlainTextEdit>();
    sink = std::make_unique<LogBox>(box.get());
    log = StatusLog();
    log.SetSink(sink.get());
}

void TestStatusLog::cleanup()
{
    log.SetSink(nullptr);
    sink.reset();
    box.reset();
}

// Each row: a script of operations, 'L' for LogLine and 'A' for LogAppend followed by
// the text, separated by '|', run after ClearLog; then the whole log expected.
void TestStatusLog::linesAndAppends_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("expected");

    QTest::newRow("one line") << QStringList{"Lword"} << "\r\nword";
    QTest::newRow("line then two appends")
            << QStringList{"Lword", "A=", "A="} << "\r\nword==";
    QTest::newRow("appends then a line")
            << QStringList{"A=", "A=", "L------ Locked"} << "==\r\n------ Locked";
    QTest::newRow("empty line") << QStringList{"La", "L", "Lb"} << "\r\na\r\n\r\nb";
    QTest::newRow("text with CR LF")
            << QStringList{"Lone\r\ntwo\r\nthree"} << "\r\none\r\ntwo\r\nthree";
    QTest::newRow("message with an empty line before it")
            << QStringList{"La", "L\r\n------ DSP programmed"}
            << "\r\na\r\n\r\n------ DSP programmed";
    QTest::newRow("empty append") << QStringList{"La", "A"} << "\r\na";
    QTest::newRow("control and high characters")
            << QStringList{"L\t\u00e9\u00ff"} << "\r\n\t\u00e9\u00ff";
}

void TestStatusLog::linesAndAppends()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, expected);

    box->setPlainText("left over");
    log.ClearLog();
    for (const QString &step : std::as_const(steps)) {
        if (step.startsWith('L'))
            log.LogLine(step.mid(1));
        else
            log.LogAppend(step.mid(1));
    }
    QCOMPARE(log.Text(), expected);
    QCOMPARE(sink->Shown(), expected);
    // CR LF is one line break in the box, not two.
    QCOMPARE(box->blockCount(), expected.count("\r\n") + 1);
}

void TestStatusLog::clearEmptiesEverything()
{
    log.LogLine("a");
    log.LogLine("b");
    log.ClearLog();
    QCOMPARE(log.Text(), QString());
    QCOMPARE(sink->Shown(), QString());
    log.LogLine("c");
    QCOMPARE(log.Text(), QString("\r\nc"));
}

void TestStatusLog::operatorCursorAndSelectionStayPut_data()
{
    QTest::addColumn<int>("anchor");
    QTest::addColumn<int>("position");
    // The log below is "\nfirst line\nsecond line\nthird".
    QTest::newRow("cursor at the start") << 0 << 0;
    QTest::newRow("cursor in the middle") << 8 << 8;
    QTest::newRow("selection forwards") << 3 << 17;
    QTest::newRow("selection backwards") << 17 << 3;
    QTest::newRow("selection up to the end") << 12 << 29;
    QTest::newRow("selection from the end") << 29 << 12;
}

void TestStatusLog::operatorCursorAndSelectionStayPut()
{
    QFETCH(int, anchor);
    QFETCH(int, position);

    log.LogLine("first line");
    log.LogLine("second line");
    log.LogLine("third");

    QTextCursor operatorCursor(box->document());
    operatorCursor.setPosition(anchor);
    operatorCursor.setPosition(position, QTextCursor::KeepAnchor);
    box->setTextCursor(operatorCursor);
    const QString selected = box->textCursor().selectedText();

    log.LogLine("fourth");
    log.LogAppend("=");

    QCOMPARE(log.Text(), QString("\r\nfirst line\r\nsecond line\r\nthird\r\nfourth="));
    QCOMPARE(box->textCursor().anchor(), anchor);
    QCOMPARE(box->textCursor().position(), position);
    QCOMPARE(box->textCursor().selectedText(), selected);
}

void TestStatusLog::typedTextStaysUntilClear()
{
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));

    log.LogLine("------ Downloading Kernel ");
    box->moveCursor(QTextCursor::End);
    QTest::keyClicks(box.get(), " typed");
    log.LogLine("next");
    QCOMPARE(sink->Shown(), QString("\r\n------ Downloading Kernel  typed\r\nnext"));

    // Typing in the middle of the log does not draw the log's lines there.
    box->moveCursor(QTextCursor::Start);
    QTest::keyClicks(box.get(), "x");
    log.LogLine("last");
    QCOMPARE(sink->Shown(), QString("x\r\n------ Downloading Kernel  typed\r\nnext\r\nlast"));
    // What the operator typed is shown, never taken as the program's own text.
    QCOMPARE(log.Text(), QString("\r\n------ Downloading Kernel \r\nnext\r\nlast"));

    log.ClearLog();
    QCOMPARE(sink->Shown(), QString());
}

void TestStatusLog::newestTextIsKeptInView()
{
    box->resize(200, 80);
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));

    QScrollBar *bar = box->verticalScrollBar();
    for (int i = 0; i < 200; ++i)
        log.LogLine(QString("---- line %1").arg(i));
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());

    // The operator scrolls back; the next message brings the newest text into view again.
    bar->setValue(0);
    log.LogLine("---- newest");
    QCOMPARE(bar->value(), bar->maximum());
    log.LogAppend("=");
    QCOMPARE(bar->value(), bar->maximum());
    // Also while the operator holds a selection that reaches the end.
    QTextCursor selection(box->document());
    selection.setPosition(1);
    selection.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    box->setTextCursor(selection);
    bar->setValue(0);
    log.LogLine("---- after selection");
    QCOMPARE(bar->value(), bar->maximum());
    QCoreApplication::processEvents();
    QCOMPARE(bar->value(), bar->maximum());

    // The last line is on screen.
    const QTextBlock last = box->document()->lastBlock();
    QVERIFY(box->cursorRect(QTextCursor(last)).bottom() <= box->viewport()->height());
}

QTEST_MAIN(TestStatusLog)
#include "tst_statuslog.moc"
