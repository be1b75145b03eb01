#pragma once
// The box of several lines that shows the last frame sent. A download writes
// it once a block while the box is normally hidden; laying out a wrapped line
// of two hundred characters each time would cost more than the rest of the
// block's work together. So while the box is hidden a new text replaces the
// document's text, with the same signals and state as a full replacement,
// and the layout waits until the box is shown.
#include <QPlainTextEdit>

class QuietWhileHiddenLayout;

class TrafficBox : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit TrafficBox(QWidget* parent = nullptr);

    // Replaces the whole text; on screen, the box is repainted at once.
    void ReplaceText(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QuietWhileHiddenLayout* layout_;
    // A hidden replacement leaves the caret after the text; a full one puts
    // it before the text, and so does the next show.
    bool caretAfterText_ = false;
};
