// The screen of a run on several ports: what a terminal shows after the
// program's bytes, played through a small model of a terminal.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "terminal/StationScreen.h"

namespace veltra::terminal {
namespace {

// The rows a terminal shows after `bytes`, with the cursor's row: enough of
// ECMA-48 for what the program writes (CR; LF as CR LF, as a terminal's
// output processing makes it; cursor up and down; erase to the end of the
// line and of the screen). ASCII only; no height, so nothing scrolls away.
struct Terminal {
    std::vector<std::string> rows{""};
    std::size_t row = 0;
    std::size_t column = 0;

    void Play(const std::string& bytes) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const char c = bytes[i];
            if (c == '\r') {
                column = 0;
            } else if (c == '\n') {
                column = 0;
                if (++row == rows.size()) rows.emplace_back();
            } else if (c == '\x1b') {
                ASSERT_LT(i + 2, bytes.size());
                ASSERT_EQ(bytes[i + 1], '[');
                std::size_t end = i + 2;
                while (end < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[end])) != 0) ++end;
                ASSERT_LT(end, bytes.size());
                const std::size_t count = end > i + 2 ? std::stoul(bytes.substr(i + 2, end - i - 2)) : 1;
                Control(bytes[end], count);
                i = end;
            } else {
                std::string& line = rows[row];
                if (line.size() < column + 1) line.resize(column + 1, ' ');
                line[column++] = c;
            }
        }
    }
    void Control(char final, std::size_t count) {
        switch (final) {
            case 'A': row = count > row ? 0 : row - count; break;
            case 'B':
                row += count;
                while (rows.size() <= row) rows.emplace_back();
                break;
            case 'K':
                if (rows[row].size() > column) rows[row].resize(column);
                break;
            case 'J':
                if (rows[row].size() > column) rows[row].resize(column);
                rows.resize(row + 1);
                break;
            default: ADD_FAILURE() << "a control the model does not know: " << final;
        }
    }
};

class Screen : public ::testing::Test {
protected:
    // What the terminal shows of everything written to standard output so far.
    Terminal Shown() const {
        Terminal terminal;
        terminal.Play(out_.str());
        return terminal;
    }
    // What the next step writes, alone.
    template <typename Step>
    std::string Written(Step step) {
        const std::size_t before = out_.str().size();
        step();
        return out_.str().substr(before);
    }

    std::ostringstream out_;
    std::ostringstream err_;
};

using Rows = std::vector<std::string>;

// The live lines stay at the bottom, one a port in the order given, names
// aligned; a line that stays goes above them; the cursor rests below them.
TEST_F(Screen, LinesThatStayScrollAboveTheLiveLines) {
    StationScreen screen(out_, err_, {"ttyUSB0", "COM2:"}, 60);
    screen.Live(0, "#1 [##--] 50%");
    screen.Live(1, "#1 Waiting for the next device");
    screen.Line(1, false, "#1 Successful - 256 Bytes in 0.2 s");
    screen.Live(0, "#1 [####] 100%");
    screen.Line(0, false, "#1 Successful - 1024 Bytes in 0.6 s");
    screen.Live(0, "#2 Waiting for the next device");

    const Terminal shown = Shown();
    EXPECT_EQ(shown.rows, (Rows{"COM2: #1 Successful - 256 Bytes in 0.2 s", "ttyUSB0: #1 Successful - 1024 Bytes in 0.6 s",
                                "ttyUSB0: #2 Waiting for the next device", "COM2:    #1 Waiting for the next device",
                                ""}));
    EXPECT_EQ(shown.row, 4u);
    EXPECT_EQ(err_.str(), "");
}

// A live line is redrawn alone, in place: no other row is cleared or written
// again, so nothing on the screen flickers; the same text is not written again.
TEST_F(Screen, LiveLineIsRedrawnAloneInPlace) {
    StationScreen screen(out_, err_, {"A", "B", "C"}, 60);
    screen.Live(0, "one");
    screen.Live(1, "two");
    screen.Live(2, "three");
    const std::string update = Written([&] { screen.Live(1, "two, later"); });
    EXPECT_EQ(update.find("\x1b[J"), std::string::npos);
    EXPECT_EQ(update.find("one"), std::string::npos);
    EXPECT_EQ(update.find("three"), std::string::npos);
    EXPECT_EQ(update.find('\n'), std::string::npos) << "the block moved";
    EXPECT_EQ(Shown().rows, (Rows{"A: one", "B: two, later", "C: three", ""}));
    EXPECT_EQ(Written([&] { screen.Live(1, "two, later"); }), "");
}

// A live line never takes two rows: it is cut to the terminal's width, less
// its last column.
TEST_F(Screen, LiveLineIsCutToTheTerminalsWidth) {
    StationScreen screen(out_, err_, {"ttyUSB0"}, 20);
    screen.Live(0, "#1 [####################] 100%");
    screen.Line(0, false, "a line that stays is never cut, the terminal wraps it");
    EXPECT_EQ(Shown().rows, (Rows{"ttyUSB0: a line that stays is never cut, the terminal wraps it",
                                  "ttyUSB0: #1 [######", ""}));
}

// A box goes to standard error as a plain line; the live lines are drawn
// again below it on standard output.
TEST_F(Screen, BoxGoesToStandardErrorAndTheBlockStays) {
    StationScreen screen(out_, err_, {"A", "B"}, 40);
    screen.Live(0, "#1 [#---] 25%");
    screen.Live(1, "#1 [##--] 50%");
    screen.Line(0, true, "The port A is gone (was the adapter unplugged?)");
    EXPECT_EQ(err_.str(), "A: The port A is gone (was the adapter unplugged?)\n");
    // Standard error reaches the same terminal between the two writes of standard output.
    Terminal terminal;
    const std::string out = out_.str();
    const std::size_t redraw = out.rfind("\x1b[J") + 3;
    terminal.Play(out.substr(0, redraw) + err_.str() + out.substr(redraw));
    EXPECT_EQ(terminal.rows, (Rows{"A: The port A is gone (was the adapter unplugged?)", "A: #1 [#---] 25%",
                                   "B: #1 [##--] 50%", ""}));
}

// At the end the live lines go; what stayed stays, and the summaries follow it.
TEST_F(Screen, CloseTakesTheLiveLinesAway) {
    StationScreen screen(out_, err_, {"A", "B"}, 40);
    screen.Line(0, false, "#1 Successful - 256 Bytes in 0.2 s");
    screen.Live(0, "#2 Waiting for the next device");
    screen.Live(1, "#1 Waiting for the next device");
    screen.Close();
    screen.Live(1, "too late");
    screen.Line(0, false, "1 device: 1 succeeded, 0 failed");
    EXPECT_EQ(Shown().rows, (Rows{"A: #1 Successful - 256 Bytes in 0.2 s", "A: 1 device: 1 succeeded, 0 failed", ""}));
}

// With no live lines drawn (--quiet), what the terminal echoed below the
// last line, the "^C" of Ctrl-C, goes before the summaries.
TEST_F(Screen, CloseWithoutLiveLinesClearsTheEcho) {
    StationScreen screen(out_, err_, {"A", "B"}, 40);
    screen.Line(0, false, "#1 Successful - 256 Bytes in 0.2 s");
    out_ << "^C";  // the terminal's echo, where the cursor rests
    screen.Close();
    screen.Line(0, false, "1 device: 1 succeeded, 0 failed");
    EXPECT_EQ(Shown().rows, (Rows{"A: #1 Successful - 256 Bytes in 0.2 s", "A: 1 device: 1 succeeded, 0 failed", ""}));
}

// Off a terminal: plain lines with the port's name, no live lines, no controls.
TEST_F(Screen, OffATerminalEveryLineIsPlainWithItsPort) {
    StationScreen screen(out_, err_, {"ttyUSB0", "COM2:"}, 0);
    EXPECT_FALSE(screen.RedrawsInPlace());
    screen.Live(0, "#1 [##--] 50%");
    screen.Line(1, false, "Waiting for the next device");
    screen.Line(0, true, " data 3,part error");
    screen.Close();
    screen.Line(0, false, "1 device: 0 succeeded, 1 failed");
    EXPECT_EQ(out_.str(), "COM2: Waiting for the next device\nttyUSB0: 1 device: 0 succeeded, 1 failed\n");
    EXPECT_EQ(err_.str(), "ttyUSB0:  data 3,part error\n");
}

}  // namespace
}  // namespace veltra::terminal
