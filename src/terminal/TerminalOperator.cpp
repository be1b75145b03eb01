#include "terminal/TerminalOperator.h"

#include <algorithm>

#include "terminal/ProgressLine.h"

namespace veltra::terminal {
namespace {

std::string TrimEnd(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    return text;
}

}  // namespace

std::string OneLine(const std::string& text) {
    std::string line;
    bool pendingBreak = false;
    for (const char c : text) {
        if (c == '\r' || c == '\n') {
            pendingBreak = true;
            continue;
        }
        if (pendingBreak && !line.empty()) line = TrimEnd(std::move(line)) + " \xE2\x80\x94 ";  // " — "
        pendingBreak = false;
        line += c;
    }
    return TrimEnd(std::move(line));
}

TerminalOperator::TerminalOperator(std::ostream& out, std::ostream& err, bool terminal, Verbosity verbosity)
    : out_(out), err_(err), terminal_(terminal), verbosity_(verbosity) {}

TerminalOperator::TerminalOperator(StationScreen& screen, std::size_t slot, Verbosity verbosity)
    : out_(screen.Out()),
      err_(screen.Err()),
      screen_(&screen),
      slot_(slot),
      terminal_(screen.RedrawsInPlace()),
      verbosity_(verbosity) {}

void TerminalOperator::Say(const std::string& line) {
    if (verbosity_ != Verbosity::Quiet) Line(out_, line);
}

void TerminalOperator::ShowWait(const std::string& line) {
    if (verbosity_ == Verbosity::Quiet) return;
    if (screen_ != nullptr && terminal_) {
        screen_->Live(slot_, DeviceLabel() + line);
    } else {
        Say(line);
    }
}

void TerminalOperator::ShowEnded(const std::string& line) {
    // --quiet draws no live lines at all.
    if (screen_ != nullptr && verbosity_ != Verbosity::Quiet) screen_->Live(slot_, line);
}

std::string TerminalOperator::DeviceLabel() const {
    // Appended piece by piece: GCC 12 at -O3 takes a chain of concatenations
    // here for overlapping copies (-Wrestrict).
    std::string label = "#";
    label += std::to_string(device_);
    label += ' ';
    return label;
}

void TerminalOperator::Conclude(const std::string& line) { Line(out_, line); }

void TerminalOperator::Complain(const std::string& line) { Line(err_, line); }

void TerminalOperator::FreshTerminalLine() {
    // A station's screen draws its live lines over what the terminal wrote.
    if (terminal_ && screen_ == nullptr) Line(out_, "");
}

void TerminalOperator::Line(std::ostream& stream, const std::string& text) {
    if (screen_ != nullptr) {
        screen_->Line(slot_, &stream == &err_, text);
        return;
    }
    EndProgressLine();
    stream << text << '\n';
    stream.flush();
}

void TerminalOperator::EndProgressLine() {
    if (progressShown_ == 0) return;
    out_ << '\n';
    out_.flush();
    progressShown_ = 0;
}

void TerminalOperator::Activity() {
    if (onActivity_) onActivity_();
}

void TerminalOperator::ShowMessage(const Message& message) {
    Activity();
    const std::string text = OneLine(message.text);
    lastMessage_ = message.caption.empty() ? text : message.caption + ": " + text;
    if (holdMessages_) {
        heldMessages_.push_back(lastMessage_);
        return;
    }
    Complain(lastMessage_);
}

void TerminalOperator::HoldMessages(bool hold) {
    holdMessages_ = hold;
    if (hold) heldMessages_.clear();
}

void TerminalOperator::WriteHeldMessages() {
    for (const std::string& line : heldMessages_) Complain(line);
    heldMessages_.clear();
}

bool TerminalOperator::AskRetry(const std::string& text) {
    Activity();
    // A script cannot answer: the wait the command line allowed is over.
    Complain(OneLine(text) + " \xE2\x80\x94 no");
    return false;
}

std::string TerminalOperator::AskOpenFileName(const std::string&, const std::string&) {
    Activity();
    return fileAnswer_;
}

void TerminalOperator::SetStatusLine(const std::string& text) {
    Activity();
    lastStatus_ = text;
    // The rate of the progress line counts from the last status line:
    // "Downloading" comes just before the first block.
    statusSince_ = std::chrono::steady_clock::now();
    if (echoStatus_) Say(OneLine(text));
}

void TerminalOperator::SetFileNameCaption(const std::string&) { Activity(); }

void TerminalOperator::SetTrafficLog(const std::string& text) {
    Activity();
    lastTraffic_ = text;
    if (verbosity_ == Verbosity::Verbose) Line(out_, "traffic: " + OneLine(text));
}

void TerminalOperator::SetReplyBox(const std::string& text) {
    Activity();
    lastReply_ = text;
    if (verbosity_ == Verbosity::Verbose) Line(out_, "reply: " + OneLine(text));
}

void TerminalOperator::SetProgressMaximum(int maximum) {
    Activity();
    progressMaximum_ = maximum;
}

void TerminalOperator::SetProgressValue(int value) {
    Activity();
    if (!terminal_ || verbosity_ == Verbosity::Quiet) return;
    DrawProgress(ProgressLine(value, progressMaximum_, std::chrono::steady_clock::now() - statusSince_));
}

void TerminalOperator::ShowRecords(const std::string& what, std::size_t done, std::size_t total) {
    Activity();
    const auto now = std::chrono::steady_clock::now();
    if (what != recordsWhat_) {
        // The finished count of the records written stays on its own line.
        EndProgressLine();
        recordsWhat_ = what;
        recordsSince_ = now;
        recordsAtStart_ = done;
    }
    if (!terminal_ || verbosity_ == Verbosity::Quiet) return;
    // The rate counts from the first record told, whose own time is unknown.
    double secondsLeft = -1.0;
    const double seconds = std::chrono::duration<double>(now - recordsSince_).count();
    if (done > recordsAtStart_ && seconds > 0.0) {
        secondsLeft = seconds / static_cast<double>(done - recordsAtStart_) * static_cast<double>(total - done);
    }
    DrawProgress(RecordsLine(static_cast<std::int64_t>(done), static_cast<std::int64_t>(total), what, secondsLeft));
}

void TerminalOperator::DrawProgress(const std::string& line) {
    if (screen_ != nullptr) {
        screen_->Live(slot_, DeviceLabel() + line);
        return;
    }
    // Drawn over the one before; spaces clear what a longer one left.
    out_ << '\r' << line;
    if (line.size() < progressShown_) out_ << std::string(progressShown_ - line.size(), ' ');
    out_.flush();
    progressShown_ = std::max<std::size_t>(line.size(), 1);
}

}  // namespace veltra::terminal
