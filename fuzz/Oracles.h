#pragma once
// The properties every fuzz run must keep, judged from what crossed the fake
// line. Each check aborts through Violation when a property does not hold.
#include <string>
#include <vector>

#include "FakeLine.h"
#include "FirmwareFiles.h"
#include "protocol/CommandExchange.h"
#include "serial/ByteString.h"

namespace veltra::fuzz {

// wrstr: the request went out as given; the status is 0x41 only when the
// collected reply's third byte is 0x41; the answer is the reply's first byte.
void CheckExchange(const ByteString& request, const ExchangeResult& result, const std::vector<Turn>& turns);

// The fixed test block: the frame is the block 0x00..0x3F, and the reply box
// shows 65 only when the reply's third byte is 0x41.
void CheckTestBlock(const std::string& replyBox, const std::vector<Turn>& turns);

// "RUN": a missing file sends nothing; "Successful - " means every block of
// the file went out in a well-formed frame after the wake-up and each frame
// was answered with 0x41 in the reply's third byte.
void CheckDownload(const FirmwareFile& file, const std::string& statusLine, int messages,
                   const std::vector<Turn>& turns);

// ROM bootloader flashing: a missing file sends nothing; "-----Succefull------"
// means every frame after the wake-up was well formed, nothing was written
// before the erase (and the EEPROM erase, when checked) was acknowledged, and
// every record the image asks for was written once, with the image's bytes,
// and acknowledged.
void CheckFlashing(const FirmwareFile& image, bool eeprom, const std::string& runLog, int messages,
                   const std::vector<Turn>& turns);

}  // namespace veltra::fuzz
