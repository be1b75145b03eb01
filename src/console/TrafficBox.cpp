#include "console/TrafficBox.h"

#include <QPlainTextDocumentLayout>
#include <QTextDocument>

// The box's document layout, which ignores changes while the box is hidden
// and lays the whole document out anew when it is shown.
class QuietWhileHiddenLayout : public QPlainTextDocumentLayout {
public:
    using QPlainTextDocumentLayout::QPlainTextDocumentLayout;

    void SetActive(bool active) {
        active_ = active;
        if (active_ && stale_) {
            stale_ = false;
            QTextDocument& doc = *document();
            doc.markContentsDirty(0, doc.characterCount());
        }
    }

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override {
        if (!active_) {
            stale_ = true;
            return;
        }
        QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
    }

private:
    bool active_ = false;
    bool stale_ = false;
};

TrafficBox::TrafficBox(QWidget* parent) : QPlainTextEdit(parent) {
    auto* doc = new QTextDocument(this);
    layout_ = new QuietWhileHiddenLayout(doc);
    doc->setDocumentLayout(layout_);
    setDocument(doc);
}

void TrafficBox::ReplaceText(const QString& text) {
    if (isVisible()) {
        setPlainText(text);
        repaint();
        return;
    }
    QTextDocument& doc = *document();
    doc.setPlainText(text);  // one textChanged, no undo step
    doc.setModified(false);
    caretAfterText_ = true;
}

void TrafficBox::showEvent(QShowEvent* event) {
    // Before the box's own handler, which scrolls to the caret.
    layout_->SetActive(true);
    if (caretAfterText_) {
        moveCursor(QTextCursor::Start);
        caretAfterText_ = false;
    }
    QPlainTextEdit::showEvent(event);
}

void TrafficBox::hideEvent(QHideEvent* event) {
    QPlainTextEdit::hideEvent(event);
    layout_->SetActive(false);
}
