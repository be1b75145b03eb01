// The parts of veltra-load that need no device: its command line, its
// progress line, and how its operator writes what the window would show.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "terminal/CommandLine.h"
#include "terminal/ProgressLine.h"
#include "terminal/TerminalOperator.h"

namespace veltra::terminal {
namespace {

using namespace std::chrono_literals;

TEST(LoadCommandLine, TakesTheOptionsInEitherForm) {
    const LoadCommand plain = ParseLoadCommand({"fw.bin"});
    EXPECT_EQ(plain.action, Action::Download);
    EXPECT_EQ(plain.ports, std::vector<std::string>{"COM1:"});
    EXPECT_EQ(plain.wait, 30s);
    EXPECT_EQ(plain.verbosity, Verbosity::Normal);
    EXPECT_FALSE(plain.loop);
    EXPECT_EQ(plain.file, "fw.bin");

    const LoadCommand full = ParseLoadCommand({"--port", "/dev/pts/3", "--wait", "5", "--quiet", "--loop", "fw.bin"});
    EXPECT_EQ(full.ports, std::vector<std::string>{"/dev/pts/3"});
    EXPECT_EQ(full.wait, 5s);
    EXPECT_EQ(full.verbosity, Verbosity::Quiet);
    EXPECT_TRUE(full.loop);

    const LoadCommand joined = ParseLoadCommand({"--port=ttyUSB0", "--wait=7", "--verbose", "fw.bin"});
    EXPECT_EQ(joined.ports, std::vector<std::string>{"ttyUSB0"});

    // Several ports, in the order given, replace the default.
    const LoadCommand station =
        ParseLoadCommand({"--loop", "--port", "ttyUSB0", "--port=ttyUSB1", "--port", "COM2:", "fw.bin"});
    EXPECT_EQ(station.ports, (std::vector<std::string>{"ttyUSB0", "ttyUSB1", "COM2:"}));
    EXPECT_EQ(joined.wait, 7s);
    EXPECT_EQ(joined.verbosity, Verbosity::Verbose);

    EXPECT_EQ(ParseLoadCommand({"--", "--odd-name"}).file, "--odd-name");
    EXPECT_EQ(ParseLoadCommand({"-"}).file, "-");
    EXPECT_EQ(ParseLoadCommand({"--list"}).action, Action::List);
    EXPECT_EQ(ParseLoadCommand({"--port", "COM3:", "--test-block"}).action, Action::TestBlock);
    EXPECT_EQ(ParseLoadCommand({"fw.bin", "--help"}).action, Action::Help);
    EXPECT_FALSE(plain.rom);
    EXPECT_EQ(plain.baud, 19200);

    const LoadCommand rom = ParseLoadCommand({"--rom", "--eeprom", "--verify", "--baud=115200", "fw.bin"});
    EXPECT_EQ(rom.action, Action::Download);
    EXPECT_TRUE(rom.rom && rom.eeprom && rom.verify);
    EXPECT_EQ(rom.baud, 115200);
    EXPECT_EQ(rom.file, "fw.bin");
    EXPECT_EQ(ParseLoadCommand({"--rom", "--baud", "9600", "fw.bin"}).baud, 9600);

    const LoadCommand service =
        ParseLoadCommand({"--rom", "--loop", "--chip-id", "0x48CD:12", "--keep-eeprom", "--backup-dir=kept", "fw.bin"});
    EXPECT_TRUE(service.loop && service.keepEeprom);
    EXPECT_EQ(service.chipIdAddress, 0x48CDu);
    EXPECT_EQ(service.chipIdLength, 12u);
    EXPECT_EQ(service.backupDir, "kept");
    EXPECT_EQ(ParseLoadCommand({"--rom", "--chip-id=18637:1", "fw.bin"}).chipIdAddress, 18637u);
    const LoadCommand restore = ParseLoadCommand({"--rom", "--port", "ttyUSB0", "--restore-eeprom", "kept.bin"});
    EXPECT_EQ(restore.restoreEeprom, "kept.bin");
    EXPECT_EQ(restore.file, "");

    EXPECT_EQ(plain.log, "");
    EXPECT_EQ(plain.reconnect, 30s);
    EXPECT_EQ(ParseLoadCommand({"--loop", "--reconnect", "0", "fw.bin"}).reconnect, 0s);
    EXPECT_EQ(ParseLoadCommand({"--loop", "--reconnect=90", "fw.bin"}).reconnect, 90s);
    EXPECT_EQ(ParseLoadCommand({"--log", "run.jsonl", "--loop", "fw.bin"}).log, "run.jsonl");
    const LoadCommand romLog = ParseLoadCommand({"--rom", "--log=rom.jsonl", "fw.bin"});
    EXPECT_EQ(romLog.log, "rom.jsonl");
    EXPECT_EQ(romLog.file, "fw.bin");
}

TEST(LoadCommandLine, RefusesWhatItCannotTakeNamingIt) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{}, "no FILE to load"},
        {{"a.bin", "b.bin"}, "one FILE at a time, not 2"},
        {{"--port"}, "--port wants a value"},
        {{"--port", "", "a.bin"}, "--port wants a name, not \"\""},
        {{"--wait", "0", "a.bin"}, "--wait wants whole seconds from 1 to 86400, not \"0\""},
        {{"--wait", "1.5", "a.bin"}, "--wait wants whole seconds from 1 to 86400, not \"1.5\""},
        {{"--wait=", "a.bin"}, "--wait wants whole seconds from 1 to 86400, not \"\""},
        {{"--wait", "86401", "a.bin"}, "--wait wants whole seconds from 1 to 86400, not \"86401\""},
        {{"--quiet", "--verbose", "a.bin"}, "--quiet and --verbose cannot go together"},
        {{"--bogus", "a.bin"}, "unknown option --bogus"},
        {{"--loop=1", "a.bin"}, "unknown option --loop=1"},
        {{"--list", "a.bin"}, "--list takes no FILE"},
        {{"--list", "--test-block"}, "--list and --test-block cannot go together"},
        {{"--test-block", "--loop"}, "--loop is for loading a FILE, not with --test-block"},
        {{"--test-block", "--wait", "3"}, "--wait is for loading a FILE, not with --test-block"},
        {{"--list", "--port", "COM3:"}, "--list takes no other option"},
        {{"--baud", "115200", "a.bin"}, "--baud goes with --rom only: the device's loader runs at 19200 baud"},
        {{"--eeprom", "a.bin"}, "--eeprom goes with --rom only"},
        {{"--verify", "a.bin"}, "--verify goes with --rom only"},
        {{"--rom", "--baud", "14400", "a.bin"}, "--baud wants 9600, 19200, 38400, 57600 or 115200, not \"14400\""},
        {{"--rom", "--baud=", "a.bin"}, "--baud wants 9600, 19200, 38400, 57600 or 115200, not \"\""},
        {{"--rom", "--test-block"}, "--test-block and --rom cannot go together"},
        {{"--reconnect", "5", "a.bin"}, "--reconnect goes with --loop only"},
        {{"--loop", "--reconnect", "-1", "a.bin"}, "--reconnect wants whole seconds from 0 to 86400, not \"-1\""},
        {{"--loop", "--reconnect=", "a.bin"}, "--reconnect wants whole seconds from 0 to 86400, not \"\""},
        {{"--list", "--reconnect", "5"}, "--reconnect goes with --loop only"},
        {{"--log", "a.bin"}, "no FILE to load"},
        {{"--log=", "a.bin"}, "--log wants a file name, not \"\""},
        {{"--test-block", "--log", "run.jsonl"}, "--log is for loading a FILE, not with --test-block"},
        {{"--list", "--log", "run.jsonl"}, "--log is for loading a FILE, not with --list"},
        {{"--loop", "--port", "ttyUSB0", "--port", "ttyUSB0", "a.bin"}, "--port ttyUSB0 is given twice"},
        {{"--port", "ttyUSB0", "--port", "ttyUSB1", "a.bin"},
         "several ports go with --loop only: one line of devices on each"},
        {{"--rom", "--port", "ttyUSB0", "--port", "ttyUSB1", "a.bin"},
         "several ports go with --loop only: one line of devices on each"},
        {{"--test-block", "--port", "COM2:", "--port", "COM3:"},
         "several ports go with --loop only: one line of devices on each"},
        {{"--keep-eeprom", "a.bin"}, "--keep-eeprom goes with --rom only"},
        {{"--chip-id", "0x48CD:12", "a.bin"}, "--chip-id goes with --rom only"},
        {{"--restore-eeprom", "b.bin"}, "--restore-eeprom goes with --rom only"},
        {{"--rom", "--keep-eeprom", "--eeprom", "a.bin"},
         "--keep-eeprom and --eeprom cannot go together: one keeps the device's EEPROM, the other writes the "
         "image's over it"},
        {{"--rom", "--backup-dir", "/tmp", "a.bin"}, "--backup-dir goes with --keep-eeprom only"},
        {{"--rom", "--chip-id", "0x48CD", "a.bin"},
         "--chip-id wants ADDR:LEN, such as 0x48CD:12 (LEN 1 to 256), not \"0x48CD\""},
        {{"--rom", "--chip-id=0x48CD:0", "a.bin"},
         "--chip-id wants ADDR:LEN, such as 0x48CD:12 (LEN 1 to 256), not \"0x48CD:0\""},
        {{"--rom", "--chip-id=0xFFFFFF:2", "a.bin"},
         "--chip-id wants ADDR:LEN, such as 0x48CD:12 (LEN 1 to 256), not \"0xFFFFFF:2\""},
        {{"--rom", "--restore-eeprom", "b.bin", "a.bin"}, "--restore-eeprom takes no FILE: it writes its backup back"},
        {{"--rom", "--loop", "--restore-eeprom", "b.bin"}, "--restore-eeprom and --loop cannot go together"},
        {{"--rom", "--verify", "--restore-eeprom", "b.bin"}, "--restore-eeprom and --verify cannot go together"},
    };
    for (const Case& c : cases) {
        try {
            ParseLoadCommand(c.args);
            ADD_FAILURE() << c.message << ": accepted";
        } catch (const UsageError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}

TEST(LoadProgressLine, ShowsBarPercentBytesRateAndTimeLeft) {
    struct Case {
        std::int64_t done;
        std::int64_t total;
        std::chrono::duration<double> elapsed;
        std::string line;
    };
    const Case cases[] = {
        {0, 1024, 0s, "[--------------------]   0%  0 of 1024 Bytes  -- B/s  --:-- left"},
        {512, 1024, 500ms, "[##########----------]  50%  512 of 1024 Bytes  1.0 kB/s  0:01 left"},
        {100, 4000, 1s, "[--------------------]   2%  100 of 4000 Bytes  100 B/s  0:39 left"},
        {1024, 1024, 2s, "[####################] 100%  1024 of 1024 Bytes  512 B/s  0:00 left"},
        // The closing block carries fewer file bytes than 64: the bar ends full, not past it.
        {1088, 1024, 2s, "[####################] 100%  1024 of 1024 Bytes  512 B/s  0:00 left"},
        {1000, 3601000, 1s, "[--------------------]   0%  1000 of 3601000 Bytes  1.0 kB/s  1:00:00 left"},
    };
    for (const Case& c : cases) EXPECT_EQ(ProgressLine(c.done, c.total, c.elapsed), c.line);
    EXPECT_LE(ProgressLine(12345, 98765432, 3s).size(), 79u) << "fits an 80-column terminal";
}

TEST(LoadProgressLine, CountsRecordsForTheRomBootloader) {
    EXPECT_EQ(RecordsLine(0, 224, "written", -1.0), "[--------------------]   0%  0 of 224 records written  --:-- left");
    EXPECT_EQ(RecordsLine(112, 224, "written", 9.2), "[##########----------]  50%  112 of 224 records written  0:10 left");
    EXPECT_EQ(RecordsLine(224, 224, "read back", 0.0),
              "[####################] 100%  224 of 224 records read back  0:00 left");
}

struct Screen {
    std::ostringstream out;
    std::ostringstream err;
};

// A download's calls as the core makes them, with a box between two blocks.
void PlayDownload(TerminalOperator& op) {
    op.EchoStatusLines(true);
    op.SetProgressMaximum(150);
    op.SetStatusLine("Downloading");
    op.SetProgressValue(64);
    op.SetProgressValue(128);
    op.ShowMessage({"first line\nsecond line", MessageIcon::Warning, {}});
    op.SetProgressValue(150);
    op.SetStatusLine("Successful - 192 Bytes");
}

TEST(LoadTerminalOutput, TheRecordsOfARomRunAreCountedInPlaceThenClosed) {
    for (const bool terminal : {true, false}) {
        SCOPED_TRACE(terminal ? "terminal" : "pipe");
        Screen screen;
        TerminalOperator op(screen.out, screen.err, terminal, Verbosity::Normal);
        op.SetTrafficLog("Running !  Ok!     ");
        op.ShowRecords("written", 1, 2);
        op.ShowRecords("written", 2, 2);
        op.ShowRecords("read back", 1, 2);
        op.Conclude("-----Succefull------");
        const std::string out = screen.out.str();
        if (!terminal) {
            EXPECT_EQ(out, "-----Succefull------\n");
            continue;
        }
        EXPECT_EQ(std::count(out.begin(), out.end(), '\r'), 3) << out;
        EXPECT_EQ(out.rfind("\r[##########----------]  50%  1 of 2 records written  --:-- left", 0), 0u) << out;
        EXPECT_NE(out.find("\r[####################] 100%  2 of 2 records written  0:00 left"), std::string::npos) << out;
        // A new kind of record starts a line and a time of its own.
        EXPECT_NE(out.find("\n\r[##########----------]  50%  1 of 2 records read back  --:-- left"), std::string::npos)
            << out;
        EXPECT_TRUE(out.ends_with(" left\n-----Succefull------\n")) << out;
    }
}

TEST(LoadTerminalOutput, OnATerminalTheProgressLineIsRedrawnInPlace) {
    Screen screen;
    TerminalOperator op(screen.out, screen.err, true, Verbosity::Normal);
    PlayDownload(op);
    const std::string out = screen.out.str();
    EXPECT_EQ(out.rfind("Downloading\n\r[", 0), 0u) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\r'), 3) << out;
    // The box ends the progress line on the screen; the next value starts a new one.
    EXPECT_NE(out.find(" 85%  128 of 150 Bytes"), std::string::npos) << out;
    EXPECT_NE(out.find("\n\r[####################] 100%  150 of 150 Bytes"), std::string::npos) << out;
    const std::string closing = " left\nSuccessful - 192 Bytes\n";
    EXPECT_EQ(out.substr(out.size() - std::min(out.size(), closing.size())), closing) << out;
    EXPECT_EQ(screen.err.str(), "first line — second line\n");
}

TEST(LoadTerminalOutput, ElsewhereOnlyPlainLines) {
    for (const Verbosity verbosity : {Verbosity::Normal, Verbosity::Quiet}) {
        Screen screen;
        TerminalOperator op(screen.out, screen.err, false, verbosity);
        PlayDownload(op);
        op.Conclude(op.LastStatus());
        const bool quiet = verbosity == Verbosity::Quiet;
        EXPECT_EQ(screen.out.str(), quiet ? "Successful - 192 Bytes\n"
                                          : "Downloading\nSuccessful - 192 Bytes\nSuccessful - 192 Bytes\n");
        EXPECT_EQ(screen.err.str(), "first line — second line\n") << "boxes are shown also with --quiet";
    }
    Screen quietTerminal;
    TerminalOperator op(quietTerminal.out, quietTerminal.err, true, Verbosity::Quiet);
    PlayDownload(op);
    EXPECT_EQ(quietTerminal.out.str(), "") << "--quiet draws no progress line";
}

TEST(LoadTerminalOutput, VerboseShowsTheTrafficBoxesOneLineEach) {
    Screen screen;
    TerminalOperator op(screen.out, screen.err, false, Verbosity::Verbose);
    op.SetTrafficLog("Running!  ");
    op.SetTrafficLog("A5 70 \r\n\r\n\xC2\xA5p");
    op.SetReplyBox("55 70 41 D ,");
    EXPECT_EQ(screen.out.str(), "traffic: Running!\ntraffic: A5 70 — \xC2\xA5p\nreply: 55 70 41 D ,\n");
    EXPECT_EQ(op.LastReply(), "55 70 41 D ,");

    Screen normal;
    TerminalOperator quieter(normal.out, normal.err, false, Verbosity::Normal);
    quieter.SetTrafficLog("A5 70 \r\n\r\n\xC2\xA5p");
    EXPECT_EQ(normal.out.str(), "");
}

TEST(LoadTerminalOutput, QuestionsAreAnsweredWithoutAsking) {
    Screen screen;
    TerminalOperator op(screen.out, screen.err, false, Verbosity::Normal);
    op.SetFileAnswer("/fw/dev.bin");
    EXPECT_EQ(op.AskOpenFileName("Open", "All Files (*)"), "/fw/dev.bin");
    EXPECT_FALSE(op.AskRetry("No answer from device. Keep waiting?"));
    op.ShowMessage({"Bad\r\n", MessageIcon::Critical, "Error#2"});
    EXPECT_EQ(screen.err.str(), "No answer from device. Keep waiting? — no\nError#2: Bad\n");
    EXPECT_EQ(screen.out.str(), "");
}

}  // namespace
}  // namespace veltra::terminal
