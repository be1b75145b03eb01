// Which Windows error codes mean that the device behind an open port has gone
// (an adapter pulled out), so that the port is released at once instead of
// being read again and again.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>

#include "serial/PortPlatform.h"

namespace veltra::wine {
namespace {

TEST(PortLoss, ErrorCodesThatMeanTheDeviceHasGone) {
    const struct {
        DWORD code;
        bool lost;
    } cases[] = {
        {ERROR_ACCESS_DENIED, true},      {ERROR_INVALID_HANDLE, true},   {ERROR_BAD_COMMAND, true},
        {ERROR_GEN_FAILURE, true},        {ERROR_OPERATION_ABORTED, true}, {ERROR_DEVICE_REMOVED, true},
        {ERROR_SUCCESS, false},           {ERROR_IO_PENDING, false},      {WAIT_TIMEOUT, false},
        {ERROR_INVALID_PARAMETER, false}, {ERROR_FILE_NOT_FOUND, false},  {ERROR_NOT_ENOUGH_MEMORY, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::IsPortLost(static_cast<std::uint32_t>(c.code)), c.lost) << "code " << c.code;
    }
}

}  // namespace
}  // namespace veltra::wine
