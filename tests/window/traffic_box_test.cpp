// The traffic box against a plain text box given the same texts with
// setPlainText: whether the box is hidden or shown when it is written, it must
// end up indistinguishable from the plain one, text, signals, state and pixels.
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

#include "console/TrafficBox.h"

namespace {

// Two boxes of the same size side by side in one shown window.
struct Pair {
    Pair() {
        window.resize(440, 120);
        box->setGeometry(8, 8, 204, 92);
        plain->setGeometry(228, 8, 204, 92);
        for (QPlainTextEdit* b : {static_cast<QPlainTextEdit*>(box), plain}) {
            b->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            b->setFocusPolicy(Qt::NoFocus);  // a caret in one of them only would differ
        }
        window.show();
    }

    void Write(const QString& text) {
        box->ReplaceText(text);
        plain->setPlainText(text);
    }

    void SetVisible(bool visible) {
        box->setVisible(visible);
        plain->setVisible(visible);
    }

    QWidget window;
    TrafficBox* box = new TrafficBox(&window);
    QPlainTextEdit* plain = new QPlainTextEdit(&window);
};

// A frame as the download shows it: a wrapped line of hexadecimal, an empty
// line, then the readable form.
QString Frame(int seed) {
    QString hex;
    QString readable;
    for (int i = 0; i < 67; ++i) {
        const int b = (seed * 67 + i * 37) & 0xFF;
        hex += QString::number(b, 16).toUpper() + QLatin1Char(' ');
        readable += b >= 0x30 ? QChar(b) : QChar('@');
    }
    return hex + QStringLiteral("\r\n\r\n") + readable;
}

void CompareState(Pair& p) {
    QCOMPARE(p.box->toPlainText(), p.plain->toPlainText());
    QCOMPARE(p.box->document()->isModified(), p.plain->document()->isModified());
    QCOMPARE(p.box->document()->isUndoAvailable(), p.plain->document()->isUndoAvailable());
    QCOMPARE(p.box->document()->blockCount(), p.plain->document()->blockCount());
}

void ComparePixels(Pair& p) {
    QCOMPARE(p.box->textCursor().position(), p.plain->textCursor().position());
    QCOMPARE(p.box->verticalScrollBar()->maximum(), p.plain->verticalScrollBar()->maximum());
    QCOMPARE(p.box->verticalScrollBar()->value(), p.plain->verticalScrollBar()->value());
    QCOMPARE(p.box->grab().toImage(), p.plain->grab().toImage());
}

}  // namespace

class TrafficBoxTest : public QObject {
    Q_OBJECT

private slots:
    void hiddenWritesShowAsFullReplacementsOnceShown();
    void shownWritesAreFullReplacements();
};

void TrafficBoxTest::hiddenWritesShowAsFullReplacementsOnceShown() {
    Pair p;
    QVERIFY(QTest::qWaitForWindowExposed(&p.window));
    p.SetVisible(false);
    QSignalSpy boxChanges(p.box, &QPlainTextEdit::textChanged);
    QSignalSpy plainChanges(p.plain, &QPlainTextEdit::textChanged);

    // Texts longer and shorter than the box, of more and of fewer lines.
    const QStringList texts = {Frame(1), QStringLiteral("Running!  "), Frame(2), Frame(3) + Frame(4), QString(),
                               Frame(5)};
    for (const QString& text : texts) {
        p.Write(text);
        CompareState(p);
    }
    QCOMPARE(boxChanges.count(), plainChanges.count());

    p.SetVisible(true);
    QVERIFY(QTest::qWaitForWindowExposed(&p.window));
    CompareState(p);
    ComparePixels(p);

    // Hidden again, after the box has been laid out once.
    p.SetVisible(false);
    p.Write(Frame(6) + Frame(7));
    p.Write(QStringLiteral("Start!  "));
    p.SetVisible(true);
    CompareState(p);
    ComparePixels(p);
    QCOMPARE(boxChanges.count(), plainChanges.count());
}

void TrafficBoxTest::shownWritesAreFullReplacements() {
    Pair p;
    QVERIFY(QTest::qWaitForWindowExposed(&p.window));
    for (const QString& text : {Frame(1) + Frame(2), QStringLiteral("Running!  "), Frame(3)}) {
        p.Write(text);
        CompareState(p);
        ComparePixels(p);
    }
}

QTEST_MAIN(TrafficBoxTest)
#include "traffic_box_test.moc"
