#pragma once
// What both start probes share once their window is shown: the event loop runs
// as in the program until the window's first paint has been flushed, then the
// probe returns. Sharing it keeps the two probes alike in all but the window.
#include <QApplication>
#include <QEvent>
#include <QMetaObject>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

namespace veltra::bench {

// Ends the event loop after the watched window's first paint event. The quit
// is queued, so the rest of that pass (the children's paint, the flush to the
// screen) is done before the loop returns.
class FirstPaintQuits : public QObject {
public:
    explicit FirstPaintQuits(QApplication& app) : app_(app) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !painted_) {
            painted_ = true;
            QMetaObject::invokeMethod(&app_, "quit", Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

    bool painted() const { return painted_; }

private:
    QApplication& app_;
    bool painted_ = false;
};

// Runs the event loop until the shown window has been painted once. Exit code
// 0 when it was; a window never painted (or a box waiting for an answer) ends
// the probe with 2, so the bench does not time a hang; a loop ended by
// something else (an end signal) gives 3.
inline int RunUntilFirstPaint(QApplication& app, QWidget& window) {
    FirstPaintQuits quits(app);
    window.installEventFilter(&quits);
    QTimer::singleShot(10'000, [] {
        std::fputs("start probe: the window was not painted within 10 s\n", stderr);
        std::_Exit(2);
    });
    app.exec();
    window.removeEventFilter(&quits);
    return quits.painted() ? 0 : 3;
}

}  // namespace veltra::bench
