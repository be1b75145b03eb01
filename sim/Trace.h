#pragma once
// Shows what the simulated device takes, in a readable form: one line per
// frame. The tracing personalities wrap the real ones and print after each
// arrival what it changed.
#include <cstdio>
#include <memory>
#include <string>

#include "sim/LoaderDevice.h"
#include "sim/Personality.h"
#include "sim/RomBootloaderDevice.h"

namespace veltra::sim {

std::string Hex(const ByteString& bytes);  // "A5 70 00"

class LoaderTrace : public Personality {
public:
    LoaderTrace(std::shared_ptr<LoaderDevice> loader, std::FILE* out);
    Reply OnBytes(const ByteString& bytes) override;

private:
    std::shared_ptr<LoaderDevice> loader_;
    std::FILE* out_;
};

class RomTrace : public Personality {
public:
    RomTrace(std::shared_ptr<RomBootloaderDevice> rom, std::FILE* out);
    Reply OnBytes(const ByteString& bytes) override;

private:
    std::shared_ptr<RomBootloaderDevice> rom_;
    std::FILE* out_;
};

}  // namespace veltra::sim
