#include "ScratchBridge.h"
#include "Visible.h"

#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>
#include <vector>

namespace kobito {
namespace {

struct CountCase {
    std::string text;
    std::size_t chars;
};

void PrintTo(const CountCase& c, std::ostream* os) {
    *os << Visible(c.text);
}

class Utf8CharCountTest : public testing::TestWithParam<CountCase> {};

TEST_P(Utf8CharCountTest, CountsCodePoints) {
    EXPECT_EQ(Utf8CharCount(GetParam().text), GetParam().chars);
}

INSTANTIATE_TEST_SUITE_P(Texts, Utf8CharCountTest,
                         testing::Values(CountCase{"", 0}, CountCase{"Walk", 4},
                                         CountCase{"歩く", 2}, CountCase{"é", 1},
                                         CountCase{"\xF0\x9F\xA4\x96", 1}, // one emoji
                                         CountCase{"\xE6\xAD", 2},         // cut off: two bytes
                                         CountCase{"\x80\xFF", 2},         // stray bytes
                                         CountCase{"a\xC3(", 3}));         // lead byte, no follower

struct BroadcastCase {
    std::string text;
    bool broadcast;
};

void PrintTo(const BroadcastCase& c, std::ostream* os) {
    *os << Visible(c.text);
}

class IsScratchBroadcastTest : public testing::TestWithParam<BroadcastCase> {};

TEST_P(IsScratchBroadcastTest, LooksAtTheFirstNineCharacters) {
    EXPECT_EQ(IsScratchBroadcast(GetParam().text), GetParam().broadcast) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, IsScratchBroadcastTest,
    testing::Values(BroadcastCase{"broadcast \"Walk\"", true}, BroadcastCase{"broadcast", true},
                    BroadcastCase{"broadcasting", true}, BroadcastCase{"broadcas", false},
                    BroadcastCase{"Broadcast \"Walk\"", false},
                    BroadcastCase{" broadcast \"Walk\"", false},
                    BroadcastCase{"sensor-update \"a\" 1 ", false}, BroadcastCase{"", false},
                    BroadcastCase{"ｂroadcast \"Walk\"", false}));

struct NameCase {
    std::string text;
    std::string name;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << Visible(c.text);
}

class ScratchBroadcastNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(ScratchBroadcastNameTest, DropsTheFirstElevenAndTheLastCharacter) {
    EXPECT_EQ(ScratchBroadcastName(GetParam().text), GetParam().name) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ScratchBroadcastNameTest,
    testing::Values(NameCase{"broadcast \"Done\"", "Done"}, NameCase{"broadcast \"Walk\"", "Walk"},
                    NameCase{"broadcast \"Quit\"", "Quit"}, NameCase{"broadcast \"歩く\"", "歩く"},
                    NameCase{"broadcast \"右手を上げる\"", "右手を上げる"},
                    NameCase{"broadcast \"a b\"", "a b"}, NameCase{"broadcast \"A\"", "A"},
                    NameCase{"broadcast \"\"", ""}, // 12 characters
                    NameCase{"broadcast \"A", ""},  // 12 characters
                    NameCase{"broadcast", ""}, NameCase{"", ""},
                    NameCase{"broadcast  Walk ", "Walk"}, // the rule, not the quotes
                    NameCase{"broadcast \"Walk\" ", "Walk\""},
                    NameCase{"broadcast \"歩\"", "歩"},               // 13 characters, 15 bytes
                    NameCase{"broadcast \"\xE6\xAD\"", "\xE6\xAD"})); // a cut character, bytewise

struct MatchCase {
    std::string name;
    bool quit;
    std::vector<int> slots;
};

void PrintTo(const MatchCase& c, std::ostream* os) {
    *os << Visible(c.name);
}

class MatchScratchNameTest : public testing::TestWithParam<MatchCase> {};

// Slot captions as a user might leave them: some empty, two alike, one Quit.
const std::array<std::string, 15> kCaptions = {
    "", "Dance", "", "Walk", "歩く", "", "", "", "", "Walk", "", "Quit", "", "walk", "",
};

TEST_P(MatchScratchNameTest, ComparesExactlyWithEveryCaption) {
    const TScratchMatch match = MatchScratchName(GetParam().name, kCaptions);
    EXPECT_EQ(match.Quit, GetParam().quit);
    EXPECT_EQ(match.Slots, GetParam().slots);
    EXPECT_EQ(match.Matched(), GetParam().quit || !GetParam().slots.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Names, MatchScratchNameTest,
    testing::Values(MatchCase{"Walk", false, {3, 9}}, MatchCase{"walk", false, {13}},
                    MatchCase{"WALK", false, {}}, MatchCase{"Dance", false, {1}},
                    MatchCase{"歩く", false, {4}}, MatchCase{"Quit", true, {}},
                    MatchCase{"quit", false, {}}, MatchCase{"", false, {}},
                    MatchCase{"Walk ", false, {}}, MatchCase{"Run", false, {}}));

struct InterpretCase {
    std::string text;
    bool robotOpen;
    TScratchAction action;
    std::vector<int> slots;
    std::string resultLine;
};

void PrintTo(const InterpretCase& c, std::ostream* os) {
    *os << Visible(c.text) << (c.robotOpen ? " robot open" : " robot closed");
}

class InterpretScratchTextTest : public testing::TestWithParam<InterpretCase> {};

TEST_P(InterpretScratchTextTest, DecidesTheActionAndTheLogLine) {
    const InterpretCase& c = GetParam();
    const TScratchCommand command = InterpretScratchText(c.text, c.robotOpen, kCaptions);
    EXPECT_EQ(command.Action, c.action);
    EXPECT_EQ(command.Slots, c.slots);
    EXPECT_EQ(command.ResultLine, c.resultLine);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, InterpretScratchTextTest,
    testing::Values(
        InterpretCase{"broadcast \"Walk\"", true, TScratchAction::RunSlots, {3, 9}, "Walk match"},
        InterpretCase{"broadcast \"walk\"", true, TScratchAction::RunSlots, {13}, "walk match"},
        InterpretCase{"broadcast \"歩く\"", true, TScratchAction::RunSlots, {4}, "歩く match"},
        InterpretCase{"broadcast \"Run\"", true, TScratchAction::Unmatched, {}, "Run unmatch"},
        InterpretCase{"broadcast \"Quit\"", true, TScratchAction::Quit, {}, "Quit match"},
        InterpretCase{"broadcast \"\"", true, TScratchAction::Unmatched, {}, " unmatch"},
        InterpretCase{"broadcast", true, TScratchAction::Unmatched, {}, " unmatch"},
        InterpretCase{
            "broadcast \"Walk\"", false, TScratchAction::RobotOffline, {}, "KOBITO not connected"},
        InterpretCase{
            "broadcast \"Quit\"", false, TScratchAction::RobotOffline, {}, "KOBITO not connected"},
        InterpretCase{"sensor-update \"x\" 5 ", true, TScratchAction::LogOnly, {}, ""},
        InterpretCase{"Broadcast \"Walk\"", true, TScratchAction::LogOnly, {}, ""},
        InterpretCase{"", true, TScratchAction::LogOnly, {}, ""},
        InterpretCase{"", false, TScratchAction::LogOnly, {}, ""}));

TEST(InterpretScratchText, GivesTheNameOfAnyBroadcastWhileTheRobotIsConnected) {
    EXPECT_EQ(InterpretScratchText("broadcast \"Walk\"", true, kCaptions).Name, "Walk");
    EXPECT_EQ(InterpretScratchText("broadcast \"Run\"", true, kCaptions).Name, "Run");
    EXPECT_EQ(InterpretScratchText("broadcast \"Quit\"", true, kCaptions).Name, "Quit");
}

} // namespace
} // namespace kobito
