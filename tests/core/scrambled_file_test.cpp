#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ios>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "firmware/FillerSource.h"
#include "firmware/ScrambleKey.h"
#include "firmware/ScrambledFile.h"
#include "serial/ByteString.h"
#include "support/RecordingOperator.h"
#include "support/ScrambledFileModel.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;
using testing::ExpectedScrambledFile;
using testing::FillerOffsets;
using testing::RecordingOperator;

constexpr std::size_t kBlock = kScrambleBlockSize;

ByteString ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return ByteString(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& path, const ByteString& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

ByteString Repeat(std::uint8_t byte, std::size_t count) { return ByteString(count, static_cast<char>(byte)); }

// Varied content with no run of 0xFF, so no block of it is blank.
ByteString Pattern(std::size_t count, unsigned seed = 7) {
    ByteString s;
    for (std::size_t i = 0; i < count; ++i) AppendByte(s, static_cast<std::uint8_t>((i * 131 + seed) % 251));
    return s;
}

// Firmware-like blocks in a fixed pseudo-random order: erased (0xFF), erased
// but for one byte, zeros, and varied bytes; cut to `size`.
ByteString MixedContent(std::size_t size) {
    ByteString s;
    std::uint32_t state = 2024;
    auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    while (s.size() < size) {
        const std::uint32_t kind = next() >> 30;
        for (std::size_t i = 0; i < kBlock; ++i) {
            switch (kind) {
                case 0: AppendByte(s, 0xFF); break;
                case 1: AppendByte(s, i == (next() >> 26) ? 0xFE : 0xFF); break;
                case 2: AppendByte(s, 0x00); break;
                default: AppendByte(s, static_cast<std::uint8_t>(next() >> 24));
            }
        }
    }
    s.resize(size);
    return s;
}

// FNV-1a, 64 bits: a file's fingerprint, to pin large outputs.
std::uint64_t Fingerprint(const ByteString& bytes) {
    std::uint64_t hash = 0xCBF29CE484222325u;
    for (const char c : bytes) hash = (hash ^ static_cast<std::uint8_t>(c)) * 0x100000001B3u;
    return hash;
}

// Where two strings first differ; npos when they are equal. Large outputs are
// compared this way, since printing them would bury the failure.
std::size_t FirstDifference(const ByteString& a, const ByteString& b) {
    const auto [atA, atB] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    if (atA == a.end() && atB == b.end()) return ByteString::npos;
    return static_cast<std::size_t>(atA - a.begin());
}

FirmwareChoice ChoiceOf(const fs::path& path) {
    FirmwareChoice choice;
    choice.path = path.string();
    choice.folder = path.parent_path().string() + "/";
    return choice;
}

class ScrambledFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "veltra-scramble-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(dir_, ignored);
    }

    // Converts input as dev.bin and returns dev.cri; the conversion must
    // succeed silently.
    ByteString Convert(const ByteString& input, FillerSource& filler) {
        WriteAll(dir_ / "dev.bin", input);
        EXPECT_TRUE(ConvertToScrambledFile(op_, ChoiceOf(dir_ / "dev.bin"), filler));
        EXPECT_TRUE(op_.messages.empty()) << op_.messages.front().text;
        return ReadAll(dir_ / "dev.cri");
    }

    std::set<std::string> Listing() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) names.insert(entry.path().filename().string());
        return names;
    }

    fs::path dir_;
    RecordingOperator op_;
};

TEST(ScrambledFileName, ReplacesTheLastThreeCharactersOfTheFileName) {
    struct Case { std::string path, expected; };
    const Case cases[] = {
        {"/fw/dev.bin", "/fw/dev.cri"},
        {"dev.bin", "dev.cri"},
        {"/fw/abc", "/fw/cri"},
        {"/fw/dev.cri", "/fw/dev.cri"},
        {"/fw/прошивка.бин", "/fw/прошивка.cri"},  // characters, not bytes
        {"/fw/x.яя", "/fw/xcri"},
        // Too short: the name would reach into the folder.
        {"/fw/ab", ""},
        {"/fw/аб", ""},
        {"/fw/", ""},
        {"ab", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(ScrambledFileName(c.path), c.expected) << c.path;
}

TEST(FillerFromUnit, RoundsHalvesToEven) {
    struct Case { double unit; int filler; };
    const Case cases[] = {
        {0.0, 0},
        {0.5 / 255, 0},
        {1.5 / 255, 2},
        {2.5 / 255, 2},
        {127.5 / 255, 128},
        {254.5 / 255, 254},
        {0.49 / 255, 0},
        {0.51 / 255, 1},
        {254.6 / 255, 255},
        {std::nextafter(1.0, 0.0), 255},
    };
    for (const Case& c : cases) EXPECT_EQ(FillerFromUnit(c.unit), c.filler) << c.unit * 255;
}

// The rounding is done without the maths library; it must give what std::lrint
// gives, at, just below and just above every value whose product with 255 is
// a whole number or halfway between two, and on the generator's own values.
TEST(FillerFromUnit, AgreesWithLrintNearEveryWholeAndHalfwayValue) {
    std::vector<double> units;
    for (int k = 0; k <= 255; ++k) {
        for (const double centre : {k / 255.0, (k + 0.5) / 255.0}) {
            double below = centre;
            double above = centre;
            units.push_back(centre);
            for (int step = 0; step < 4; ++step) {
                units.push_back(below = std::nextafter(below, 0.0));
                units.push_back(above = std::nextafter(above, 1.0));
            }
        }
    }
    std::erase_if(units, [](double unit) { return unit > 1.0; });
    FillerSource source;
    for (int i = 0; i < 100000; ++i) units.push_back(source.NextUnit());

    int halfway = 0;
    for (const double unit : units) {
        const double scaled = unit * 255.0;
        halfway += scaled - std::floor(scaled) == 0.5;
        ASSERT_EQ(FillerFromUnit(unit), std::lrint(scaled)) << std::hexfloat << unit;
    }
    EXPECT_GT(halfway, 100) << "the values must include exact halves";
}

// Files written by earlier versions of the program hold these values: the
// start of the sequence of every run.
TEST(FillerSource, EveryRunStartsWithTheKnownValues) {
    const double units[] = {0x1.c4415072f63b9p-1, 0x1.b9e279aa86e58p-2, 0x1.b1174620025p-6, 0x1.f1177150e499p-1,
                            0x1.b39896a51a87p-4,  0x1.4f2e7c31d1fa8p-2, 0x1.6414d5f0fa298p-3, 0x1.8b082675922d5p-1};
    const int fillers[] = {225, 110, 7,   248, 27,  83,  44,  197, 63,  243, 101, 194,
                           134, 142, 181, 132, 125, 195, 52,  215, 218, 168, 237, 84};
    FillerSource unitSource;
    for (const double unit : units) EXPECT_EQ(unitSource.NextUnit(), unit) << std::hexfloat << unit;
    FillerSource fillerSource;
    for (const int filler : fillers) EXPECT_EQ(fillerSource.NextFiller(), filler);
}

TEST(FillerSource, EveryRunStartsTheSameSequenceOfUnitValues) {
    FillerSource first;
    FillerSource second;
    for (int i = 0; i < 100000; ++i) {
        const double unit = first.NextUnit();
        ASSERT_GE(unit, 0.0);
        ASSERT_LT(unit, 1.0);
        ASSERT_EQ(unit, second.NextUnit()) << i;
    }
}

TEST_F(ScrambledFile, OutputHasHeaderAndOneBlockPerReadIncludingTheEmptyLastRead) {
    struct Case { std::size_t inputSize, outputSize; };
    for (const Case& c : {Case{0, 128}, Case{1, 128}, Case{63, 128}, Case{64, 192}, Case{100, 192},
                          Case{128, 256}, Case{129, 256}}) {
        FillerSource filler;
        EXPECT_EQ(Convert(Pattern(c.inputSize), filler).size(), c.outputSize) << c.inputSize;
    }
}

TEST_F(ScrambledFile, OutputMatchesTheFormatWithFillerDrawnInAscendingOffset) {
    // Scrambled, blank, blank but for one 0xFE, then a short block.
    ByteString input = Pattern(kBlock) + Repeat(0xFF, kBlock) + Repeat(0xFF, kBlock) + Pattern(36, 3);
    input[2 * kBlock + 37] = '\xFE';
    FillerSource filler;
    FillerSource model;
    const ByteString output = Convert(input, filler);
    EXPECT_EQ(output, ExpectedScrambledFile(input, {0, 0, 0, 0}, model));
}

// Byte for byte the files the program has always written for these inputs,
// pinned by fingerprint: the first and the second conversion of one run (the
// second goes on with the filler sequence). The larger inputs fill the output
// to exactly 1 MiB, one block past it, and several MiB.
TEST_F(ScrambledFile, KnownInputsGiveTheKnownFiles) {
    struct Case { std::size_t inputSize; std::uint64_t first, second; };
    const Case cases[] = {
        {0, 0xB0B5BEEF12ED4C54u, 0x35DB47A551A01C50u},
        {100, 0x305F718EF38135F2u, 0x44CFA78ABD1C91B6u},
        {4097, 0x7B44701F3396C56Du, 0x88BF18823167C258u},
        {(1u << 20) - 128, 0x9CF71D095BB0E240u, 0x132BC5EEC11C9A29u},
        {(1u << 20) - 64, 0x400C02A2E63525BFu, 0x6B0505EA5995B63Au},
        {(3u << 20) + 37, 0x36B827185CE4F97Cu, 0xD5622BBDC40C7BB6u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.inputSize);
        const ByteString input = MixedContent(c.inputSize);
        FillerSource filler;
        FillerSource model;
        const ByteString first = Convert(input, filler);
        EXPECT_EQ(FirstDifference(first, ExpectedScrambledFile(input, {0, 0, 0, 0}, model)), ByteString::npos);
        EXPECT_EQ(Fingerprint(first), c.first);
        EXPECT_EQ(Fingerprint(Convert(input, filler)), c.second);
    }
}

TEST_F(ScrambledFile, BlockWithOneByteOtherThan0xFFIsScrambledNotFilled) {
    ByteString input = Repeat(0xFF, kBlock);
    input[37] = '\xFE';
    FillerSource filler;
    const ByteString output = Convert(input, filler);
    const auto& key = ScrambleKey();
    for (std::size_t i = 0; i < kBlock; ++i) {
        const std::uint8_t plain = i == 37 ? 0xFE : 0xFF;
        EXPECT_EQ(ByteAt(output, kBlock + i), plain ^ key[i]) << i;
    }
}

TEST_F(ScrambledFile, UnscramblingGivesBackTheInputPaddedWith0xFF) {
    struct Case { const char* what; ByteString input; };
    const Case cases[] = {
        {"short last block", Pattern(100)},
        {"one block and the empty last read", Pattern(64)},
        {"last block of 0x00", Pattern(64) + Repeat(0x00, 10)},
        {"mostly erased", Repeat(0xFF, 63) + Pattern(1) + Repeat(0xFF, 70)},
    };
    const auto& key = ScrambleKey();
    for (const Case& c : cases) {
        FillerSource filler;
        const ByteString output = Convert(c.input, filler);
        const std::set<std::size_t> fillerAt = FillerOffsets(c.input);
        ByteString restored;
        for (std::size_t i = kBlock; i < output.size(); ++i) {
            AppendByte(restored, fillerAt.count(i) ? 0xFF : static_cast<std::uint8_t>(ByteAt(output, i) ^ key[i % kBlock]));
        }
        ByteString padded = c.input;
        padded.resize(output.size() - kBlock, '\xFF');
        EXPECT_EQ(restored, padded) << c.what;
    }
}

TEST_F(ScrambledFile, LastBlockOf0xFFAndItsPaddingIsFiller) {
    // 10 bytes of 0xFF after a full block: with 0xFF padding the last block is
    // blank, so it must hold filler and not 0xFF XOR key.
    const ByteString input = Pattern(kBlock) + Repeat(0xFF, 10);
    FillerSource filler;
    FillerSource model;
    const ByteString output = Convert(input, filler);
    ASSERT_EQ(output.size(), 3 * kBlock);
    EXPECT_EQ(output, ExpectedScrambledFile(input, {0, 0, 0, 0}, model));
    EXPECT_EQ(FillerOffsets(input).count(2 * kBlock), 1u);
}

TEST_F(ScrambledFile, HeaderCarriesMarkerKeyByteAndOptionsInHeaderOrder) {
    struct Case { std::vector<std::string> texts; std::array<std::uint8_t, 4> ob1to4; };
    const Case cases[] = {
        {{"0", " 0", "0", "0"}, {0, 0, 0, 0}},  // the boxes' initial texts
        {{"18", "52", "86", "120"}, {0x12, 0x34, 0x56, 0x78}},
        {{" 255 ", "007", "1", "128"}, {255, 7, 1, 128}},
    };
    const std::uint8_t k0 = ScrambleKey()[0];
    for (const Case& c : cases) {
        op_.options = c.texts;
        FillerSource filler;
        const ByteString output = Convert(Pattern(10), filler);
        ASSERT_GE(output.size(), kBlock);
        EXPECT_EQ(ByteAt(output, 0), 0x01);
        EXPECT_EQ(ByteAt(output, 16), k0);
        EXPECT_EQ(ByteAt(output, 17), k0);
        EXPECT_EQ(ByteAt(output, 18), k0);
        EXPECT_EQ(ByteAt(output, 19), c.ob1to4[0] ^ k0) << "ob1";
        EXPECT_EQ(ByteAt(output, 20), c.ob1to4[3] ^ k0) << "ob4";
        EXPECT_EQ(ByteAt(output, 21), c.ob1to4[1] ^ k0) << "ob2";
        EXPECT_EQ(ByteAt(output, 22), c.ob1to4[2] ^ k0) << "ob3";
    }
}

TEST_F(ScrambledFile, KeyIsPartOfTheFileFormat) {
    // A block of zeros scrambles to the key itself; receivers hold these bytes.
    const ByteString expected =
        "\x40\xC9\x59\x1A\x25\x04\xC3\x2A\xF5\x9B\x43\x28\xE3\x21\xB3\xA8"
        "\x2F\xF6\xC1\x3E\x89\x8E\x54\x10\x80\x93\xB7\xD7\xDE\x4C\x72\x8A"
        "\x3C\x34\x8B\x5A\x96\xFB\xE4\x0F\xF0\xED\x2B\x83\xE2\xA4\xE1\x4E"
        "\x56\xA3\x46\x86\x98\x5B\x45\x68\xCD\x7F\xF8\x76\x5F\xD2\x51\x07";
    FillerSource filler;
    const ByteString output = Convert(Repeat(0x00, kBlock), filler);
    EXPECT_EQ(output.substr(kBlock, kBlock), expected);
}

TEST_F(ScrambledFile, SecondConversionInOneRunDiffersOnlyInFiller) {
    const ByteString input = Pattern(kBlock) + Repeat(0xFF, kBlock) + Pattern(20);
    FillerSource filler;
    const ByteString first = Convert(input, filler);
    const ByteString second = Convert(input, filler);
    ASSERT_EQ(first.size(), second.size());
    const std::set<std::size_t> fillerAt = FillerOffsets(input);
    std::size_t differing = 0;
    for (std::size_t i = 0; i < first.size(); ++i) {
        if (fillerAt.count(i)) {
            differing += first[i] != second[i];
        } else {
            EXPECT_EQ(first[i], second[i]) << i;
        }
    }
    // The sequence goes on: the second run's filler is not the first's again.
    EXPECT_GT(differing, fillerAt.size() / 2);
}

TEST_F(ScrambledFile, TwoRunsOfTheProgramGiveIdenticalFiles) {
    const ByteString input = Repeat(0xFF, 3 * kBlock) + Pattern(77);
    FillerSource firstRun;
    FillerSource secondRun;
    EXPECT_EQ(Convert(input, firstRun), Convert(input, secondRun));
}

TEST_F(ScrambledFile, ReplacesAnOlderOutputWholeWithUsualPermissions) {
    WriteAll(dir_ / "dev.cri", Repeat(0xAA, 1000));
    FillerSource filler;
    EXPECT_EQ(Convert(ByteString{}, filler).size(), 2 * kBlock);

    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat st {};
    ASSERT_EQ(::stat((dir_ / "dev.cri").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    EXPECT_EQ(Listing(), (std::set<std::string>{"dev.bin", "dev.cri"})) << "no temporary file is left";
}

// Every check comes before anything is written: the folder keeps exactly the
// input and an older output, byte for byte.
TEST_F(ScrambledFile, RefusalsShowWhatIsWrongAndWriteNothing) {
    struct Case {
        const char* what;
        std::string file;  // chosen file name in the folder; empty: nothing chosen
        bool exists;
        std::vector<std::string> options;
        std::string message;  // "{}" stands for the chosen path
    };
    const std::vector<std::string> initial{"0", " 0", "0", "0"};
    const Case cases[] = {
        {"nothing chosen", "", true, initial, "Please choose File"},
        {"name too short", "ab", true, initial, "The file name is too short to name its scrambled file: {}"},
        {"output is the input", "dev.cri", true, initial, "Cannot convert {}: its scrambled file would replace it"},
        {"ob1 too big", "dev.bin", true, {"256", "0", "0", "0"},
         "Alt Func must be a whole number from 0 to 255, not \"256\""},
        {"ob4 negative", "dev.bin", true, {"0", "0", "0", "-1"},
         "WD+LSI must be a whole number from 0 to 255, not \"-1\""},
        {"ob2 fraction", "dev.bin", true, {"0", "1.5", "0", "0"},
         "Clock Option must be a whole number from 0 to 255, not \"1.5\""},
        {"ob3 empty", "dev.bin", true, {"0", "0", "", "0"},
         "HSE Option must be a whole number from 0 to 255, not \"\""},
        {"ob3 only spaces", "dev.bin", true, {"0", "0", "  ", "0"},
         "HSE Option must be a whole number from 0 to 255, not \"  \""},
        {"ob1 letter", "dev.bin", true, {"x", "0", "0", "0"},
         "Alt Func must be a whole number from 0 to 255, not \"x\""},
        {"ob2 two numbers", "dev.bin", true, {"0", "1 2", "0", "0"},
         "Clock Option must be a whole number from 0 to 255, not \"1 2\""},
        {"ob4 huge", "dev.bin", true, {"0", "0", "0", "99999999999999999999"},
         "WD+LSI must be a whole number from 0 to 255, not \"99999999999999999999\""},
        {"ob1 and ob4 wrong: ob1 is read first", "dev.bin", true, {"a", "0", "0", "b"},
         "Alt Func must be a whole number from 0 to 255, not \"a\""},
        {"ob4 and ob2 wrong: ob4 is read first", "dev.bin", true, {"0", "a", "0", "b"},
         "WD+LSI must be a whole number from 0 to 255, not \"b\""},
    };
    const ByteString input = Pattern(100);
    const ByteString older = Repeat(0x5A, 300);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir_);
        fs::create_directory(dir_);
        if (c.exists && !c.file.empty()) WriteAll(dir_ / c.file, input);
        const std::string olderName = c.file.size() >= 3 ? ScrambledFileName(c.file) : "dev.cri";
        if (olderName != c.file) WriteAll(dir_ / olderName, older);
        const auto before = Listing();

        RecordingOperator op;
        op.options = c.options;
        FillerSource filler;
        const FirmwareChoice choice = c.file.empty() ? FirmwareChoice{} : ChoiceOf(dir_ / c.file);
        EXPECT_FALSE(ConvertToScrambledFile(op, choice, filler));

        std::string expected = c.message;
        if (const auto at = expected.find("{}"); at != std::string::npos) expected.replace(at, 2, choice.path);
        ASSERT_EQ(op.messages.size(), 1u);
        EXPECT_EQ(op.messages[0].text, expected);
        EXPECT_EQ(op.messages[0].icon, MessageIcon::None);
        EXPECT_EQ(op.messages[0].caption, "");
        EXPECT_EQ(Listing(), before);
        if (olderName != c.file) {
            EXPECT_EQ(ReadAll(dir_ / olderName), older);
        }
        if (c.exists && !c.file.empty()) {
            EXPECT_EQ(ReadAll(dir_ / c.file), input);
        }
    }
}

TEST_F(ScrambledFile, InputReachedThroughALinkToItsOutputNameIsNotReplaced) {
    // dev.bin is a link to dev.cri: renaming over dev.cri would destroy the
    // input, though the names differ.
    const ByteString input = Pattern(100);
    WriteAll(dir_ / "dev.cri", input);
    fs::create_symlink("dev.cri", dir_ / "dev.bin");
    FillerSource filler;
    EXPECT_FALSE(ConvertToScrambledFile(op_, ChoiceOf(dir_ / "dev.bin"), filler));
    ASSERT_EQ(op_.messages.size(), 1u);
    EXPECT_EQ(ReadAll(dir_ / "dev.cri"), input);
    EXPECT_TRUE(fs::is_symlink(dir_ / "dev.bin"));
}

TEST_F(ScrambledFile, UnreadableInputLeavesOlderOutputAndNoTemporaryFile) {
    // A folder in place of the firmware file: a failure no permission bits
    // can lift, so it holds for root too.
    fs::create_directory(dir_ / "dev.bin");
    WriteAll(dir_ / "dev.cri", Repeat(0x5A, 300));
    FillerSource filler;
    EXPECT_FALSE(ConvertToScrambledFile(op_, ChoiceOf(dir_ / "dev.bin"), filler));
    ASSERT_EQ(op_.messages.size(), 1u);
    EXPECT_EQ(op_.messages[0].text, "Cannot open firmware file " + (dir_ / "dev.bin").string() + ": it is a folder, not a file");
    EXPECT_EQ(op_.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(ReadAll(dir_ / "dev.cri"), Repeat(0x5A, 300));
    EXPECT_EQ(Listing(), (std::set<std::string>{"dev.bin", "dev.cri"}));
}

// Holds the file size limit low for its lifetime, with SIGXFSZ at its default
// (which ends the process) as a shell leaves it: the conversion itself must
// turn a write past the limit into EFBIG, reported like a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_DFL);
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST_F(ScrambledFile, FailedWriteLeavesOlderOutputAndNoTemporaryFile) {
    struct Case { const char* what; std::size_t inputSize; rlim_t limit; };
    const Case cases[] = {
        {"fails in the first of several pieces", 1 << 20, 100000},
        {"fails after whole pieces were written", 3 << 20, (2 << 20) + 4096},
        {"fails on the one write of a small file", 1000, 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteAll(dir_ / "dev.bin", Pattern(c.inputSize));
        WriteAll(dir_ / "dev.cri", Repeat(0x5A, 300));
        RecordingOperator op;
        FillerSource filler;
        bool ok = true;
        {
            FileSizeLimit limit(c.limit);
            ok = ConvertToScrambledFile(op, ChoiceOf(dir_ / "dev.bin"), filler);
        }
        EXPECT_FALSE(ok);
        ASSERT_EQ(op.messages.size(), 1u);
        EXPECT_EQ(op.messages[0].text, "Cannot write " + (dir_ / "dev.cri").string() + ": " + std::strerror(EFBIG));
        EXPECT_EQ(op.messages[0].icon, MessageIcon::Warning);
        EXPECT_EQ(ReadAll(dir_ / "dev.cri"), Repeat(0x5A, 300));
        EXPECT_EQ(Listing(), (std::set<std::string>{"dev.bin", "dev.cri"}));
    }
}

TEST_F(ScrambledFile, FolderNotWritableLeavesOlderOutput) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    WriteAll(dir_ / "dev.bin", Pattern(100));
    WriteAll(dir_ / "dev.cri", Repeat(0x5A, 300));
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    FillerSource filler;
    EXPECT_FALSE(ConvertToScrambledFile(op_, ChoiceOf(dir_ / "dev.bin"), filler));
    fs::permissions(dir_, fs::perms::owner_all);
    ASSERT_EQ(op_.messages.size(), 1u);
    EXPECT_EQ(op_.messages[0].text, "Cannot write " + (dir_ / "dev.cri").string() + ": " + std::strerror(EACCES));
    EXPECT_EQ(ReadAll(dir_ / "dev.cri"), Repeat(0x5A, 300));
    EXPECT_EQ(Listing(), (std::set<std::string>{"dev.bin", "dev.cri"}));
}

// An output path as long as the system allows: the temporary file beside it
// must fit too, so its name may be no longer than the output's.
TEST_F(ScrambledFile, OutputPathOfTheLongestLengthIsWritten) {
    fs::path folder = dir_;
    const std::size_t longest = PATH_MAX - 1;  // without the terminating zero
    while (folder.string().size() + 1 + 200 + 1 + 7 <= longest) folder /= std::string(200, 'd');
    const std::size_t rest = longest - folder.string().size() - 1 - 1 - 7;
    if (rest > 0) folder /= std::string(rest, 'e');
    fs::create_directories(folder);
    const fs::path input = folder / "dev.bin";
    ASSERT_EQ(ScrambledFileName(input.string()).size(), longest);
    WriteAll(input, Pattern(100));

    FillerSource filler;
    EXPECT_TRUE(ConvertToScrambledFile(op_, ChoiceOf(input), filler))
        << (op_.messages.empty() ? std::string{} : op_.messages[0].text);
    EXPECT_EQ(ReadAll(folder / "dev.cri").size(), 3 * kBlock);
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"dev.bin", "dev.cri"}));
}

}  // namespace
}  // namespace veltra
