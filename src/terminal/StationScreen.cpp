#include "terminal/StationScreen.h"

#include <algorithm>

namespace veltra::terminal {
namespace {

// ECMA-48 controls, which terminals and the Windows console alike take.
constexpr char kClearToEnd[] = "\x1b[K";     // the rest of the line
constexpr char kClearBelow[] = "\x1b[J";     // the rest of the screen
std::string Up(std::size_t rows) { return "\x1b[" + std::to_string(rows) + "A"; }
std::string Down(std::size_t rows) { return "\x1b[" + std::to_string(rows) + "B"; }

// Columns a UTF-8 text takes, taking every character as one column.
std::size_t Columns(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// `text` cut to at most `columns` characters, never inside one.
std::string CutTo(const std::string& text, std::size_t columns) {
    std::size_t shown = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (shown == columns) return text.substr(0, i);
        ++shown;
    }
    return text;
}

}  // namespace

StationScreen::StationScreen(std::ostream& out, std::ostream& err, std::vector<std::string> ports, int columns)
    : out_(out), err_(err), ports_(std::move(ports)), columns_(std::max(columns, 0)), live_(ports_.size()) {
    for (std::size_t slot = 0; slot < ports_.size(); ++slot) prefixWidth_ = std::max(prefixWidth_, Columns(Prefix(slot)));
    if (RedrawsInPlace()) {
        for (std::size_t slot = 0; slot < live_.size(); ++slot) live_[slot] = Fit(slot, "");
    }
}

std::string StationScreen::Prefix(std::size_t slot) const {
    // "COM2:" carries its colon already.
    const std::string& port = ports_[slot];
    return !port.empty() && port.back() == ':' ? port + ' ' : port + ": ";
}

std::string StationScreen::Fit(std::size_t slot, const std::string& text) const {
    std::string line = Prefix(slot);
    line.append(prefixWidth_ - Columns(line), ' ');
    line += text;
    // The last column stays free: a character there makes some terminals wrap.
    return CutTo(line, static_cast<std::size_t>(columns_ - 1));
}

std::string StationScreen::Block() const {
    std::string block;
    for (const std::string& line : live_) {
        block += '\r';
        block += line;
        block += kClearToEnd;
        block += '\n';
    }
    return block;
}

void StationScreen::Write(std::ostream& stream, const std::string& text) {
    stream << text;
    stream.flush();
}

void StationScreen::Line(std::size_t slot, bool error, const std::string& text) {
    std::lock_guard lock(mutex_);
    std::ostream& stream = error ? err_ : out_;
    if (!shown_) {
        Write(stream, Prefix(slot) + text + '\n');
        return;
    }
    // Written where the block began, and the block drawn again below it: one
    // write for a line of standard output, so nothing on screen flickers.
    const std::string top = Up(live_.size()) + '\r';
    if (error) {
        Write(out_, top + kClearBelow);
        Write(err_, Prefix(slot) + text + '\n');
        Write(out_, Block());
    } else {
        Write(out_, top + Prefix(slot) + text + kClearToEnd + '\n' + Block());
    }
}

void StationScreen::Live(std::size_t slot, const std::string& text) {
    if (!RedrawsInPlace()) return;
    std::lock_guard lock(mutex_);
    if (closed_) return;
    std::string line = Fit(slot, text);
    if (shown_ && line == live_[slot]) return;
    live_[slot] = std::move(line);
    if (!shown_) {
        shown_ = true;
        Write(out_, Block());
        return;
    }
    // Only this port's row is drawn again; the cursor goes back below the block.
    const std::size_t rows = live_.size() - slot;
    Write(out_, Up(rows) + '\r' + live_[slot] + kClearToEnd + Down(rows) + '\r');
}

void StationScreen::Close() {
    std::lock_guard lock(mutex_);
    // Also what the terminal echoed below the last line (the "^C" of Ctrl-C)
    // goes, when --quiet drew no block over it.
    if (shown_) {
        Write(out_, Up(live_.size()) + '\r' + kClearBelow);
    } else if (RedrawsInPlace()) {
        Write(out_, std::string("\r") + kClearToEnd);
    }
    shown_ = false;
    closed_ = true;
}

}  // namespace veltra::terminal
