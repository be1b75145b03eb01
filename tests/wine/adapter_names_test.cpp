// Ports named by their USB adapter are for Linux, where the kernel hands out
// tty names in the order of plugging. Windows keeps an adapter's COM number
// with the adapter, so veltra-load refuses those names there, saying why,
// before anything is opened. No device is needed.
#include <gtest/gtest.h>

#include <string>

#include "terminal/CommandLine.h"
#include "terminal/Commands.h"

namespace veltra::wine {
namespace {

TEST(AdapterNames, AreRefusedSayingTheComNumberStaysWithTheAdapter) {
    for (const std::string name : {"usb:A1B2C3D4", "usb-path:1-1.2", "usb:"}) {
        SCOPED_TRACE(name);
        std::string refusal;
        try {
            terminal::RefuseUnclearAdapterNames({"COM12:", name});
        } catch (const terminal::UsageError& e) {
            refusal = e.what();
        }
        EXPECT_EQ(refusal, "--port " + name +
                               ": usb:SERIAL and usb-path:PATH name ports on Linux only: on Windows a COM port's "
                               "number already stays with its adapter");
    }
    EXPECT_NO_THROW(terminal::RefuseUnclearAdapterNames({"COM1:", "COM12:"}));
}

}  // namespace
}  // namespace veltra::wine
