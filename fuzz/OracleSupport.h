#pragma once
// What the oracles share: the abort with a readable account of the line, and
// finding where the wake-up ended.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "FakeLine.h"

namespace veltra::fuzz {

// Prints what was violated and every turn on the line, then aborts, so that
// libFuzzer keeps the input as a crash.
[[noreturn]] void Violation(const std::string& what, const std::vector<Turn>& turns);

// "0xA5": one byte for a message.
std::string Hex(std::uint8_t byte);

// The index of the first turn after the wake-up: the writes before it are all
// the wake byte 0x7F, and the last of them was answered with a read beginning
// 0x79. Nothing when the loader never answered so.
std::optional<std::size_t> AfterWakeUp(const std::vector<Turn>& turns);

}  // namespace veltra::fuzz
