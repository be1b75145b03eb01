#pragma once
// The operator's side of every operation: the one interface through which the
// port, the protocols and the file work reach the window. The window implements
// it; tests use a recording fake. All texts are UTF-8.
#include <string>

namespace veltra {

enum class MessageIcon { None, Warning, Critical };

struct Message {
    std::string text;
    MessageIcon icon = MessageIcon::None;
    std::string caption;  // empty: the box has no caption of its own
};

class Operator {
public:
    virtual ~Operator() = default;

    // A modal box with an OK button only; returns when the operator closed it.
    virtual void ShowMessage(const Message& message) = 0;
    // A modal Retry / Cancel box; true when the operator chose Retry.
    virtual bool AskRetry(const std::string& text) = 0;
    // The file-open dialog; an empty name when it was cancelled.
    virtual std::string AskOpenFileName(const std::string& title, const std::string& filter) = 0;

    // Each write replaces the whole text and is repainted at once, because the
    // long operations do not return to the window's event loop until they end.
    virtual void SetStatusLine(const std::string& text) = 0;        // l221
    virtual void SetFileNameCaption(const std::string& text) = 0;   // filename
    virtual void SetTrafficLog(const std::string& text) = 0;        // txtRec
    virtual void SetReplyBox(const std::string& text) = 0;          // T22

    virtual int ProgressMaximum() const = 0;                        // ProgressBar1
    virtual void SetProgressMaximum(int maximum) = 0;
    virtual void SetProgressValue(int value) = 0;

    // The hidden inputs of the service operations.
    virtual bool EepromChecked() const = 0;                         // EEPROM
    virtual std::string OptionText(int box) const = 0;              // ob1..ob4, box 1..4
};

}  // namespace veltra
