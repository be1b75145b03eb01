#include "terminal/DeviceLog.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "firmware/FirmwareImage.h"
#include "firmware/Sha256.h"
#include "loader/Download.h"
#include "serial/PortList.h"

namespace veltra::terminal {

std::string JsonLine(const DeviceRecord& record) {
    // ordered_json: the fields in the order the README lists them, for people
    // who read the file as well as for programs.
    nlohmann::ordered_json line = {
        {"time", IsoUtc(record.time)},
        {"port", record.port},
        {"adapter", record.adapter},
        {"device", record.device},
        {"operation", record.operation},
        {"file", record.file},
        {"size", record.size},
        {"sha256", record.sha256},
        {"result", record.result},
        {"bytes", record.bytes},
        {"seconds", record.seconds},
        {"exit", record.exit},
    };
    if (record.chipId) line["chip_id"] = *record.chipId;
    if (!record.reason.empty()) line["reason"] = record.reason;
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + '\n';
}

std::string IsoUtc(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto second = floor<seconds>(time);
    const auto day = floor<days>(second);
    const year_month_day date{day};
    const hh_mm_ss clock{second - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

std::int64_t BytesOfStatus(const std::string& status) {
    for (const char* verdict : {kStatusSuccessful, kStatusFailed}) {
        const std::string prefix = verdict;
        if (status.rfind(prefix, 0) != 0) continue;
        std::int64_t bytes = 0;
        const char* end = status.data() + status.size();
        const auto [stop, error] = std::from_chars(status.data() + prefix.size(), end, bytes);
        if (error == std::errc{} && std::string_view(stop, static_cast<std::size_t>(end - stop)) == " Bytes") {
            return bytes;
        }
    }
    return 0;
}

std::string AdapterOf(const std::string& port, const DeviceTree& tree) {
    if (IsAdapterName(port)) {
        const std::vector<PortEntry> adapter = PortsOfAdapter(port, tree);
        return adapter.size() == 1 ? adapter.front().description : std::string{};
    }
    for (const PortEntry& entry : ListPorts(tree)) {
        if (entry.name == port || entry.device == port) return entry.description;
    }
    return {};
}

ImageFacts FactsOf(const FirmwareImage& image) {
    return {static_cast<std::int64_t>(image.Size()), Sha256Hex(image.bytes)};
}

PortLog::PortLog(LogFile* file, const LoadCommand& command, const std::string& port)
    : file_(file), path_(command.log) {
    common_.port = port;
    if (file_ != nullptr) common_.adapter = AdapterOf(port);
    common_.operation = command.rom ? "rom" : "download";
    common_.file = command.file;
    if (!command.restoreEeprom.empty()) {
        common_.operation = "restore-eeprom";
        common_.file = command.restoreEeprom;
    }
    if (command.chipIdLength > 0) common_.chipId = "";
}

void PortLog::SetChip(std::string chipIdHex, std::string reason) {
    chipId_ = std::move(chipIdHex);
    reason_ = std::move(reason);
}

ImageRead PortLog::ImageHook() {
    if (file_ == nullptr) return {};
    return [this](const FirmwareImage& image) { image_ = FactsOf(image); };
}

void PortLog::KeepImage(const ImageFacts& facts) {
    image_ = facts;
    keepImage_ = true;
}

bool PortLog::Write(int device, const std::string& result, std::int64_t bytes, std::chrono::duration<double> elapsed,
                    int exit, std::string& problem) {
    if (file_ == nullptr) return true;
    DeviceRecord record = common_;
    record.time = std::chrono::system_clock::now();
    record.device = device;
    record.size = image_.size;
    record.sha256 = image_.sha256;
    // Boxes such as " File corrupt " carry spaces of their own around the text.
    const std::size_t first = result.find_first_not_of(' ');
    if (first != std::string::npos) record.result = result.substr(first, result.find_last_not_of(' ') + 1 - first);
    record.bytes = bytes;
    // Milliseconds are plenty, and keep the number short in the file.
    record.seconds = std::round(elapsed.count() * 1000.0) / 1000.0;
    record.exit = exit;
    if (record.chipId) record.chipId = chipId_;
    record.reason = reason_;
    if (!keepImage_) image_ = {};
    chipId_.clear();
    reason_.clear();
    std::string reason;
    if (file_->Append(JsonLine(record), reason)) return true;
    problem = "Cannot write the log file " + path_ + ": " + reason;
    return false;
}

}  // namespace veltra::terminal
