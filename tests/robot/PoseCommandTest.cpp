#include "PoseCommand.h"

#include <gtest/gtest.h>

namespace kobito {
namespace {

struct PoseCase {
    const char* name;
    std::array<int32_t, 16> values;
    const char* text;
};

void PrintTo(const PoseCase& c, std::ostream* os) {
    *os << c.name;
}

class PoseCommandTest : public testing::TestWithParam<PoseCase> {};

TEST_P(PoseCommandTest, BuildsTheCommandText) {
    EXPECT_EQ(BuildPoseCommand(GetParam().values), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Poses, PoseCommandTest,
    testing::Values(
        PoseCase{"Example",
                 {90, 90, 0, 130, 90, 180, 50, 90, 90, 90, 90, 90, 0, 0, 255, 10},
                 "#PS00A090S01A090S02A000S03A130S04A090S05A180S06A050S07A090S08A090S09A090"
                 "S10A090S11A090R000G000B255T010"},
        PoseCase{"Zeros",
                 {},
                 "#PS00A000S01A000S02A000S03A000S04A000S05A000S06A000S07A000S08A000S09A000"
                 "S10A000S11A000R000G000B000T000"},
        PoseCase{"NegativeAndFourDigits",
                 {-5, 1000, 5, 0, 0, 0, 0, 0, 0, 0, 0, -1000, 0, 0, 0, 12345},
                 "#PS00A-005S01A1000S02A005S03A000S04A000S05A000S06A000S07A000S08A000S09A000"
                 "S10A000S11A-1000R000G000B000T12345"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PoseCommand, HasOneHundredAndTwoCharactersForValuesUpTo999) {
    std::array<int32_t, 16> values;
    values.fill(999);
    EXPECT_EQ(BuildPoseCommand(values).size(), 102u);
}

TEST(FormatValue3, PadsToThreeDigitsWithTheSignApart) {
    const std::pair<int32_t, const char*> cases[] = {
        {0, "000"},     {5, "005"},   {42, "042"},    {999, "999"},
        {1000, "1000"}, {-5, "-005"}, {-123, "-123"}, {INT32_MIN, "-2147483648"}};
    for (const auto& [value, text] : cases)
        EXPECT_EQ(FormatValue3(value), text) << value;
}

} // namespace
} // namespace kobito
