// The settings text as it reaches the line, for what a pseudo-terminal cannot
// show: it forces 8 data bits and drops parity generation whatever it is told.
#include <termios.h>

#include <gtest/gtest.h>

#include <string>

#include "serial/LineSettingsPosix.h"

namespace veltra::platform::posix {
namespace {

TEST(LineSettings, SettingsTextSetsRateFrameAndParity) {
    struct Case {
        std::string text;
        speed_t speed;
        tcflag_t size;
        tcflag_t parity;  // of PARENB | PARODD | CMSPAR
        bool twoStopBits;
    };
    const Case cases[] = {
        {"19200,n,8,1", B19200, CS8, 0, false},
        {"9600,e,7,2", B9600, CS7, PARENB, true},
        {"115200,o,6,1", B115200, CS6, PARENB | PARODD, false},
        {"4800,M,5,1", B4800, CS5, PARENB | CMSPAR | PARODD, false},
        {"110,s,8,2", B110, CS8, PARENB | CMSPAR, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Dcb dcb;
        ASSERT_TRUE(ParseSettingsText(c.text, dcb));
        // Start from a line with every flag up, so that leftovers show.
        termios t{};
        t.c_iflag = t.c_oflag = t.c_cflag = t.c_lflag = ~tcflag_t{0};
        ASSERT_TRUE(ApplyDcb(dcb, t));
        EXPECT_EQ(cfgetispeed(&t), c.speed);
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(t.c_cflag & CSIZE, c.size);
        EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), c.parity);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStopBits);
        EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | INPCK | PARMRK), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ(t.c_cc[VMIN], 0);
        EXPECT_EQ(t.c_cc[VTIME], 0);
    }
}

}  // namespace
}  // namespace veltra::platform::posix
