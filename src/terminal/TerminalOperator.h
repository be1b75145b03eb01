#pragma once
// The operator of veltra-load: what the window shows, written to a terminal
// or a pipe. Boxes go to standard error as one line each; the status lines,
// the progress line and (with --verbose) the traffic boxes to standard output.
// The questions are answered without asking: the file dialog with the FILE of
// the command line, "keep waiting?" with no.
#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "serial/Operator.h"
#include "terminal/CommandLine.h"
#include "terminal/StationScreen.h"

namespace veltra::terminal {

// A box text as one line: its line breaks become " — ".
std::string OneLine(const std::string& text);

class TerminalOperator : public Operator {
public:
    // `terminal`: standard output is a terminal, where the progress line is
    // redrawn in place; elsewhere there is no progress line and no '\r'.
    TerminalOperator(std::ostream& out, std::ostream& err, bool terminal, Verbosity verbosity);
    // The operator of one port of a run on several: its lines go through
    // `screen` as port `slot`'s, its progress and waits to the port's live line.
    TerminalOperator(StationScreen& screen, std::size_t slot, Verbosity verbosity);

    // What the file dialog answers.
    void SetFileAnswer(std::string path) { fileAnswer_ = std::move(path); }
    // Whether the core's status lines are printed as they come (as Say does).
    void EchoStatusLines(bool on) { echoStatus_ = on; }
    // What the hidden EEPROM box holds for a ROM bootloader run.
    void SetEeprom(bool on) { eeprom_ = on; }
    // The progress line of a ROM bootloader run: `done` of `total` records
    // `what` ("written", "read back"); its time counts from the first call
    // with this `what`.
    void ShowRecords(const std::string& what, std::size_t done, std::size_t total);
    // While held, boxes are kept instead of written: the opens tried while a
    // port is awaited would otherwise fill standard error with one failure a
    // try. Holding again forgets the boxes kept; WriteHeldMessages writes them.
    void HoldMessages(bool hold);
    void WriteHeldMessages();
    // Called at every call of the core, so that the caller can react to
    // something (an interrupt) while the core runs.
    void SetOnActivity(std::function<void()> onActivity) { onActivity_ = std::move(onActivity); }

    // A line of the program's own on standard output; none with --quiet.
    void Say(const std::string& line);
    // What the program waits for: said as a line, or on a station's screen
    // shown in the port's live line; nothing with --quiet.
    void ShowWait(const std::string& line);
    // On a station's screen, the port's live line once its line of devices
    // has ended, so that no stale bar stays; nothing elsewhere.
    void ShowEnded(const std::string& line);
    // The device the live line of a station's port names: "#N".
    void SetDevice(int number) { device_ = number; }
    // A line that closes what the program was asked to do; also with --quiet.
    void Conclude(const std::string& line);
    // A line on standard error.
    void Complain(const std::string& line);
    // On a terminal, starts a new line, so that what the terminal itself
    // wrote there (the "^C" of Ctrl-C) keeps a line of its own.
    void FreshTerminalLine();

    const std::string& LastStatus() const { return lastStatus_; }
    // The last box shown, as its line on standard error.
    const std::string& LastMessage() const { return lastMessage_; }
    const std::string& LastReply() const { return lastReply_; }
    const std::string& LastTrafficLog() const { return lastTraffic_; }

    void ShowMessage(const Message& message) override;
    bool AskRetry(const std::string& text) override;
    std::string AskOpenFileName(const std::string& title, const std::string& filter) override;
    void SetStatusLine(const std::string& text) override;
    void SetFileNameCaption(const std::string& text) override;
    void SetTrafficLog(const std::string& text) override;
    void SetReplyBox(const std::string& text) override;
    int ProgressMaximum() const override { return progressMaximum_; }
    void SetProgressMaximum(int maximum) override;
    void SetProgressValue(int value) override;
    bool EepromChecked() const override { return eeprom_; }
    std::string OptionText(int) const override { return "0"; }

private:
    void Activity();
    // Ends a progress line that is showing, so that the next text starts on a line of its own.
    void EndProgressLine();
    void Line(std::ostream& stream, const std::string& text);
    // Draws `line` over the progress line on screen.
    void DrawProgress(const std::string& line);

    // On a station's screen: the label of the port's live line, "#N ".
    std::string DeviceLabel() const;

    std::ostream& out_;
    std::ostream& err_;
    StationScreen* screen_ = nullptr;  // null for a run on one port, whose lines go to out_ and err_
    std::size_t slot_ = 0;
    int device_ = 0;
    const bool terminal_;
    const Verbosity verbosity_;
    std::string fileAnswer_;
    bool echoStatus_ = false;
    std::function<void()> onActivity_;

    std::string lastStatus_;
    std::string lastMessage_;
    bool holdMessages_ = false;
    std::vector<std::string> heldMessages_;
    std::string lastReply_;
    std::string lastTraffic_;
    bool eeprom_ = false;
    std::string recordsWhat_;
    std::chrono::steady_clock::time_point recordsSince_{};
    std::size_t recordsAtStart_ = 0;
    int progressMaximum_ = 100;  // the window's bar before a file is chosen
    std::chrono::steady_clock::time_point statusSince_ = std::chrono::steady_clock::now();
    std::size_t progressShown_ = 0;  // columns of the progress line on screen; 0 when none is
};

}  // namespace veltra::terminal
