#pragma once
// The output of a run on several ports at once, shared by the ports' threads.
// On a terminal, a block of live lines at the bottom, one a port, each redrawn
// in place; lines that stay (a device's end, a box) scroll above the block.
// Off a terminal, plain lines, each beginning with its port's name.
#include <cstddef>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace veltra::terminal {

class StationScreen {
public:
    // `columns`: the terminal's width, where the live lines are drawn; 0 off
    // a terminal, where there are none.
    StationScreen(std::ostream& out, std::ostream& err, std::vector<std::string> ports, int columns);
    StationScreen(const StationScreen&) = delete;
    StationScreen& operator=(const StationScreen&) = delete;

    bool RedrawsInPlace() const { return columns_ > 0; }
    std::ostream& Out() { return out_; }
    std::ostream& Err() { return err_; }

    // A line of port `slot` that stays, on standard error when `error`.
    void Line(std::size_t slot, bool error, const std::string& text);
    // Port `slot`'s live line: what it does right now. Nothing off a terminal.
    void Live(std::size_t slot, const std::string& text);
    // Takes the block of live lines away; lines after it follow below what stayed.
    void Close();

private:
    std::string Prefix(std::size_t slot) const;
    // The live line of `slot` as drawn: cut to the terminal's width, so that
    // it never takes two rows.
    std::string Fit(std::size_t slot, const std::string& text) const;
    // Every live line, each cleared to its end; the cursor ends below the block.
    std::string Block() const;
    void Write(std::ostream& stream, const std::string& text);

    std::mutex mutex_;
    std::ostream& out_;
    std::ostream& err_;
    const std::vector<std::string> ports_;
    const int columns_;
    std::size_t prefixWidth_ = 0;  // of the widest "NAME: ", to which live lines are aligned
    std::vector<std::string> live_;
    bool shown_ = false;   // the block is on the screen
    bool closed_ = false;
};

}  // namespace veltra::terminal
