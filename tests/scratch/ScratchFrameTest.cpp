#include "ScratchFrame.h"
#include "Visible.h"

#include <gtest/gtest.h>

#include <climits>
#include <ostream>
#include <string>

namespace kobito {
namespace {

struct LengthCase {
    std::int32_t value;
    std::string bytes;
};

void PrintTo(const LengthCase& c, std::ostream* os) {
    *os << c.value;
}

class ScratchLengthTest : public testing::TestWithParam<LengthCase> {};

TEST_P(ScratchLengthTest, IsBigEndianAndSigned) {
    EXPECT_EQ(EncodeScratchLength(GetParam().value), GetParam().bytes);
    EXPECT_EQ(DecodeScratchLength(GetParam().bytes), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Values, ScratchLengthTest,
                         testing::Values(LengthCase{0, std::string(4, '\0')},
                                         LengthCase{16, std::string("\x00\x00\x00\x10", 4)},
                                         LengthCase{0x01020304, "\x01\x02\x03\x04"},
                                         LengthCase{-1, "\xFF\xFF\xFF\xFF"},
                                         LengthCase{INT32_MIN, std::string("\x80\x00\x00\x00", 4)},
                                         LengthCase{INT32_MAX, "\x7F\xFF\xFF\xFF"}));

TEST(ScratchDoneFrame, IsTheLengthSixteenAndTheText) {
    const std::string expected("\x00\x00\x00\x10"
                               "\x62\x72\x6f\x61\x64\x63\x61\x73\x74\x20\x22\x44\x6f\x6e\x65\x22",
                               20);
    EXPECT_EQ(ScratchDoneFrame(), expected);
    EXPECT_EQ(ScratchFrame(kScratchDoneText), expected);
}

TEST(ScratchFrame, CarriesUtf8BytesAndAnEmptyText) {
    EXPECT_EQ(ScratchFrame(""), std::string(4, '\0'));
    EXPECT_EQ(ScratchFrame("歩く"), std::string("\x00\x00\x00\x06", 4) + "歩く");
}

struct CheckCase {
    std::string buffered;
    TScratchFrameState state;
    std::size_t frameSize;
    std::int32_t length;
};

void PrintTo(const CheckCase& c, std::ostream* os) {
    *os << Visible(c.buffered);
}

class CheckScratchFrameTest : public testing::TestWithParam<CheckCase> {};

TEST_P(CheckScratchFrameTest, FindsTheFirstFrame) {
    const TScratchFrameCheck check = CheckScratchFrame(GetParam().buffered);
    EXPECT_EQ(check.State, GetParam().state);
    EXPECT_EQ(check.FrameSize, GetParam().frameSize);
    EXPECT_EQ(check.Length, GetParam().length);
}

std::string Head(std::int32_t length) {
    return EncodeScratchLength(length);
}

INSTANTIATE_TEST_SUITE_P(
    Buffers, CheckScratchFrameTest,
    testing::Values(CheckCase{"", TScratchFrameState::Incomplete, 0, 0},
                    CheckCase{std::string(3, '\0'), TScratchFrameState::Incomplete, 0, 0},
                    CheckCase{Head(0), TScratchFrameState::Complete, 4, 0},
                    CheckCase{Head(0) + "more", TScratchFrameState::Complete, 4, 0},
                    CheckCase{Head(-1) + "abc", TScratchFrameState::Complete, 4, 0},
                    CheckCase{Head(INT32_MIN), TScratchFrameState::Complete, 4, 0},
                    CheckCase{Head(5) + "abcd", TScratchFrameState::Incomplete, 0, 5},
                    CheckCase{Head(5) + "abcde", TScratchFrameState::Complete, 9, 5},
                    CheckCase{Head(5) + "abcdefgh", TScratchFrameState::Complete, 9, 5},
                    CheckCase{Head(kScratchMaxTextLength), TScratchFrameState::Incomplete, 0,
                              kScratchMaxTextLength},
                    CheckCase{Head(kScratchMaxTextLength + 1), TScratchFrameState::TooLong, 0,
                              kScratchMaxTextLength + 1},
                    CheckCase{Head(16 << 20), TScratchFrameState::TooLong, 0, 16 << 20},
                    CheckCase{Head(INT32_MAX), TScratchFrameState::TooLong, 0, INT32_MAX}));

TEST(CheckScratchFrame, AcceptsATextOfTheLargestLength) {
    const std::string frame = ScratchFrame(std::string(kScratchMaxTextLength, 'x'));
    const TScratchFrameCheck check = CheckScratchFrame(frame);
    EXPECT_EQ(check.State, TScratchFrameState::Complete);
    EXPECT_EQ(check.FrameSize, frame.size());
}

} // namespace
} // namespace kobito
