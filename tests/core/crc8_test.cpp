#include <gtest/gtest.h>

#include "protocol/Crc8.h"

namespace veltra {
namespace {

// Independent reference: the bitwise reflected form of the same CRC.
std::uint8_t BitwiseCrc(std::uint8_t data, std::uint8_t reg) {
    reg = static_cast<std::uint8_t>(reg ^ data);
    for (int i = 0; i < 8; ++i) {
        reg = static_cast<std::uint8_t>((reg & 1) ? (reg >> 1) ^ 0x8C : reg >> 1);
    }
    return reg;
}

TEST(Crc8, StepMatchesBitwiseFormForEveryByteAndRegister) {
    for (int d = 0; d < 256; ++d) {
        for (int r = 0; r < 256; ++r) {
            const auto data = static_cast<std::uint8_t>(d);
            auto reg = static_cast<std::uint8_t>(r);
            const std::uint8_t result = crc(data, reg);
            ASSERT_EQ(result, BitwiseCrc(data, static_cast<std::uint8_t>(r))) << d << "," << r;
            ASSERT_EQ(reg, result) << "the register keeps the result";
        }
    }
}

TEST(Crc8, StepExamples) {
    struct Case { std::uint8_t data, cr, expected; };
    for (const Case& c : {Case{0x01, 0x00, 0x5E}, Case{0x00, 0x5E, 0xC4}, Case{0x5E, 0x5E, 0x00}}) {
        std::uint8_t reg = c.cr;
        EXPECT_EQ(crc(c.data, reg), c.expected);
        EXPECT_EQ(reg, c.expected);
    }
}

TEST(Crc8, ControlSummAppendsCheckByte) {
    struct Case { ByteString request; std::uint8_t check; };
    const Case cases[] = {
        {"123456789", 0xA1},  // the published check value of the algorithm
        {"abc", 0x42},
        {"", 0x00},
        {ByteString(1, '\0'), 0x00},
        {ByteString(1, '\xFF'), 0x35},
    };
    for (const Case& c : cases) {
        const ByteString framed = Control_summ(c.request);
        ASSERT_EQ(framed.size(), c.request.size() + 1) << c.request;
        EXPECT_EQ(framed.substr(0, c.request.size()), c.request);
        EXPECT_EQ(ByteAt(framed, c.request.size()), c.check) << c.request;
    }
}

TEST(Crc8, RequestWithItsCheckByteLeavesZero) {
    ByteString frame;
    for (int i = 0; i < 66; ++i) AppendByte(frame, static_cast<std::uint8_t>(i * 37 + 5));
    const ByteString framed = Control_summ(frame);
    std::uint8_t reg = 0;
    for (std::size_t i = 0; i < framed.size(); ++i) crc(ByteAt(framed, i), reg);
    EXPECT_EQ(reg, 0x00);
}

}  // namespace
}  // namespace veltra
