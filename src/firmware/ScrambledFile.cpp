#include "firmware/ScrambledFile.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "firmware/FileSystem.h"
#include "firmware/FirmwareImage.h"
#include "firmware/ScrambleKey.h"
#include "firmware/StagedOutput.h"

namespace veltra {
namespace {

struct OptionBox {
    int box;              // ob1..ob4
    const char* caption;  // the caption of its row in the window
};
// In the order the header carries them, at offsets 19 to 22.
constexpr std::array<OptionBox, 4> kHeaderOptions = {{
    {1, "Alt Func"}, {4, "WD+LSI"}, {2, "Clock Option"}, {3, "HSE Option"}}};
constexpr std::size_t kFirstOptionOffset = 19;

using Options = std::array<std::uint8_t, kHeaderOptions.size()>;

void Show(Operator& op, std::string text, MessageIcon icon = MessageIcon::None) {
    op.ShowMessage(Message{std::move(text), icon, {}});
}

// A whole number from 0 to 255 once the spaces around it are gone.
std::optional<std::uint8_t> ParseOptionValue(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::nullopt;
    const auto last = text.find_last_not_of(' ');
    unsigned value = 0;
    for (auto i = first; i <= last; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 255) return std::nullopt;
    }
    return static_cast<std::uint8_t>(value);
}

std::optional<Options> ReadOptions(Operator& op) {
    Options values{};
    for (std::size_t i = 0; i < kHeaderOptions.size(); ++i) {
        const std::string text = op.OptionText(kHeaderOptions[i].box);
        const auto value = ParseOptionValue(text);
        if (!value) {
            Show(op, std::string(kHeaderOptions[i].caption) + " must be a whole number from 0 to 255, not \"" +
                         text + "\"");
            return std::nullopt;
        }
        values[i] = *value;
    }
    return values;
}

ScrambleBlock BuildHeader(const Options& options, const ScrambleBlock& key, FillerSource& filler) {
    ScrambleBlock header{};
    header[0] = 0x01;
    filler.Fill(std::span(header).subspan(1, 15));
    for (std::size_t i = 16; i < kFirstOptionOffset; ++i) header[i] = key[0];
    for (std::size_t i = 0; i < options.size(); ++i) {
        header[kFirstOptionOffset + i] = static_cast<std::uint8_t>(options[i] ^ key[0]);
    }
    filler.Fill(std::span(header).subspan(kFirstOptionOffset + options.size()));
    return header;
}

// The output goes to the disk in pieces of this many bytes, a whole number of
// blocks: few system calls, and each piece is still in the cache when the
// system copies it out.
constexpr std::size_t kPieceSize = std::size_t{1} << 20;
static_assert(kPieceSize % kScrambleBlockSize == 0);

bool IsBlank(const std::uint8_t* block) {
    std::uint8_t all = 0xFF;
    for (std::size_t i = 0; i < kScrambleBlockSize; ++i) all &= block[i];
    return all == 0xFF;
}

// One block, `from` into `to`: filler for a blank block, else each byte
// combined with the key byte of its position.
void Scramble(const std::uint8_t* from, std::uint8_t* to, const ScrambleBlock& key, FillerSource& filler) {
    if (IsBlank(from)) {
        filler.Fill(std::span(to, kScrambleBlockSize));
    } else {
        for (std::size_t i = 0; i < kScrambleBlockSize; ++i) to[i] = static_cast<std::uint8_t>(from[i] ^ key[i]);
    }
}

// The header, then one block for every 64-byte read of the input: the last
// read finds fewer than 64 bytes (none, for an input of whole blocks), and
// the positions past the end hold 0xFF, as in erased flash, so a last read
// that found nothing is blank.
bool WriteScrambled(StagedOutput& output, const ScrambleBlock& header, const FirmwareImage& input,
                    const ScrambleBlock& key, FillerSource& filler) {
    std::vector<std::uint8_t> piece(kPieceSize);
    std::copy(header.begin(), header.end(), piece.begin());
    std::size_t used = header.size();
    const std::size_t wholeBlocks = input.Size() / kScrambleBlockSize;
    for (std::size_t b = 0; b <= wholeBlocks; ++b) {
        if (used == piece.size()) {
            if (!output.Write(piece.data(), used)) return false;
            used = 0;
        }
        const std::size_t offset = b * kScrambleBlockSize;
        if (b < wholeBlocks) {
            Scramble(input.bytes.data() + offset, piece.data() + used, key, filler);
        } else {
            ScrambleBlock last{};
            input.CopyRecord(offset, last);
            Scramble(last.data(), piece.data() + used, key, filler);
        }
        used += kScrambleBlockSize;
    }
    return output.Write(piece.data(), used);
}

}  // namespace

std::string ScrambledFileName(const std::string& path) {
    const std::size_t nameStart = platform::FileNameStart(path);
    // Counted in characters, not bytes: a UTF-8 character is one lead byte and
    // its continuation bytes 10xxxxxx.
    std::size_t cut = path.size();
    for (int characters = 0; characters < 3; ++characters) {
        do {
            if (cut == nameStart) return {};
            --cut;
        } while ((static_cast<unsigned char>(path[cut]) & 0xC0) == 0x80);
    }
    return path.substr(0, cut) + "cri";
}

bool ConvertToScrambledFile(Operator& op, const FirmwareChoice& choice, FillerSource& filler) {
    if (!choice.Chosen()) {
        Show(op, "Please choose File");
        return false;
    }
    const std::string& inputPath = choice.path;
    const std::string outputPath = ScrambledFileName(inputPath);
    if (outputPath.empty()) {
        Show(op, "The file name is too short to name its scrambled file: " + inputPath);
        return false;
    }
    const std::optional<FirmwareImage> input = LoadFirmwareImage(op, inputPath);
    if (!input) return false;
    // The output name may lead to the input itself (its name ends in "cri",
    // or it is reached through a link): the rename at the end would replace it.
    if (platform::IsSameFile(inputPath, outputPath)) {
        Show(op, "Cannot convert " + inputPath + ": its scrambled file would replace it");
        return false;
    }
    const auto options = ReadOptions(op);
    if (!options) return false;

    StagedOutput output(outputPath);
    const auto writeFailed = [&] {
        Show(op, "Cannot write " + outputPath + ": " + output.ErrorText(), MessageIcon::Warning);
        return false;
    };
    if (!output.Create()) return writeFailed();

    const ScrambleBlock& key = ScrambleKey();
    const ScrambleBlock header = BuildHeader(*options, key, filler);
    if (!WriteScrambled(output, header, *input, key, filler)) return writeFailed();
    if (!output.Commit()) return writeFailed();
    return true;
}

}  // namespace veltra
