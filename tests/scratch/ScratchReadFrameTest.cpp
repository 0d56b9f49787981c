#include "ClientFixture.h"
#include "ScratchFrame.h"

#include <climits>
#include <string>
#include <vector>

namespace kobito {
namespace {

using test::ScratchPeer;

// TryReadFrame is what a timer tick of the window calls: it must never
// wait, hand out complete frames only and in order, and keep the rest.
class ScratchReadFrameTest : public ClientFixture {
protected:
    void SetUp() override {
        ClientFixture::SetUp();
        ConnectToPeer();
    }
};

TEST(ScratchReadFrameWithoutConnection, GivesNothing) {
    TScratchClient client;
    std::string text = "untouched";
    EXPECT_FALSE(client.TryReadFrame(text));
    EXPECT_EQ(text, "untouched");
}

TEST_F(ScratchReadFrameTest, HandlesAStreamSplitAtEveryByte) {
    const std::vector<std::string> parts = {
        ScratchPeer::Frame("broadcast \"Walk\""), ScratchPeer::Length(0), ScratchPeer::Length(-3),
        ScratchPeer::Frame("broadcast \"歩く\""), ScratchPeer::Frame("sensor-update \"a\" 1 ")};
    const std::vector<std::string> texts = {"broadcast \"Walk\"", "", "", "broadcast \"歩く\"",
                                            "sensor-update \"a\" 1 "};
    std::string stream;
    std::vector<std::size_t> ends; // where each frame ends in the stream
    for (const std::string& part : parts) {
        stream += part;
        ends.push_back(stream.size());
    }

    for (std::size_t split = 1; split < stream.size(); ++split) {
        SCOPED_TRACE("split after byte " + std::to_string(split));
        std::vector<std::string> frames;
        auto arrived = [&] {
            const std::size_t consumed = frames.empty() ? 0 : ends[frames.size() - 1];
            return consumed + client.BufferedBytes();
        };
        peer.SendRaw(stream.substr(0, split), 0);
        ASSERT_TRUE(PollUntil([&] {
            DrainFrames(frames);
            return arrived() == split;
        }));
        DrainFrames(frames); // a partial frame stays where it is
        std::size_t complete = 0;
        while (complete < ends.size() && ends[complete] <= split)
            ++complete;
        EXPECT_EQ(frames, std::vector<std::string>(texts.begin(), texts.begin() + complete));
        EXPECT_EQ(arrived(), split);

        peer.SendRaw(stream.substr(split), 0);
        ASSERT_TRUE(PollUntil([&] {
            DrainFrames(frames);
            return frames.size() == texts.size();
        }));
        EXPECT_EQ(frames, texts);
        EXPECT_TRUE(client.InputBufferIsEmpty());
    }
}

TEST_F(ScratchReadFrameTest, HandlesFramesTricklingInByteByByte) {
    std::vector<std::string> texts;
    std::string stream;
    for (int i = 0; i < 8; ++i) {
        texts.push_back("broadcast \"動作" + std::to_string(i) + "\"");
        stream += ScratchPeer::Frame(texts.back());
    }
    peer.SendInPieces(stream, 1, 1ms, 0);
    std::vector<std::string> frames;
    EXPECT_TRUE(PollUntil([&] {
        DrainFrames(frames);
        return frames.size() >= texts.size();
    }));
    EXPECT_EQ(frames, texts);
    EXPECT_TRUE(peer.WaitSent());
}

TEST_F(ScratchReadFrameTest, HandlesManyFramesArrivingAtOnce) {
    std::vector<std::string> texts;
    std::string stream;
    for (int i = 0; i < 100; ++i) {
        texts.push_back("broadcast \"m" + std::to_string(i) + "\"");
        stream += ScratchPeer::Frame(texts.back());
    }
    peer.SendRaw(stream, 0);
    ASSERT_TRUE(
        PollUntil([&] { return client.Connected() && client.BufferedBytes() == stream.size(); }));
    std::vector<std::string> frames;
    DrainFrames(frames); // all of them in one go, as one tick would
    EXPECT_EQ(frames, texts);
    EXPECT_TRUE(client.InputBufferIsEmpty());
}

class ScratchShortLengthTest : public ScratchReadFrameTest,
                               public testing::WithParamInterface<std::int32_t> {};

TEST_P(ScratchShortLengthTest, GivesAnEmptyTextAndTakesOnlyTheLengthField) {
    peer.SendRaw(ScratchPeer::Length(GetParam()) + ScratchPeer::Frame("after"), 0);
    std::vector<std::string> frames;
    ASSERT_TRUE(PollUntil([&] {
        DrainFrames(frames);
        return frames.size() >= 2;
    }));
    EXPECT_EQ(frames, (std::vector<std::string>{"", "after"}));
}

INSTANTIATE_TEST_SUITE_P(Lengths, ScratchShortLengthTest, testing::Values(0, -1, -16, INT32_MIN));

class ScratchGiantLengthTest : public ScratchReadFrameTest,
                               public testing::WithParamInterface<std::int32_t> {};

TEST_P(ScratchGiantLengthTest, IsAProtocolErrorAfterTheFramesBeforeIt) {
    peer.SendRaw(ScratchPeer::Frame("first") + ScratchPeer::Length(GetParam()) + "abc", 0);
    std::vector<std::string> frames;
    bool refused = false;
    ASSERT_TRUE(PollUntil([&] {
        try {
            DrainFrames(frames);
        } catch (const EScratchProtocolError&) {
            refused = true;
        }
        return refused;
    }));
    EXPECT_EQ(frames, std::vector<std::string>{"first"});
    EXPECT_LT(client.BufferedBytes(), 64u);
    // The window drops the connection then.
    client.Disconnect();
    EXPECT_EQ(disconnectedEvents, 1);
    EXPECT_FALSE(client.Connected());
}

INSTANTIATE_TEST_SUITE_P(Lengths, ScratchGiantLengthTest,
                         testing::Values(kScratchMaxTextLength + 1, 16 << 20, INT32_MAX));

TEST_F(ScratchReadFrameTest, AcceptsATextOfTheLargestLength) {
    const std::string text(static_cast<std::size_t>(kScratchMaxTextLength), 'k');
    peer.SendInPieces(ScratchPeer::Frame(text), 64 * 1024, 0ms, 0);
    std::vector<std::string> frames;
    ASSERT_TRUE(PollUntil([&] {
        DrainFrames(frames);
        return !frames.empty();
    }));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], text);
    EXPECT_TRUE(peer.WaitSent());
}

TEST_F(ScratchReadFrameTest, LeavesAStalledFrameAndReturnsAtOnce) {
    const std::string frame = ScratchPeer::Frame("broadcast \"Walk\"");
    peer.SendRaw(frame.substr(0, 9), 0);
    ASSERT_TRUE(PollUntil([&] { return client.Connected() && client.BufferedBytes() == 9; }));
    std::string text;
    for (int tick = 0; tick < 50; ++tick) {
        EXPECT_FALSE(client.TryReadFrame(text));
        EXPECT_TRUE(client.Connected());
    }
    EXPECT_EQ(client.BufferedBytes(), 9u);
    peer.SendRaw(frame.substr(9), 0);
    ASSERT_TRUE(PollUntil([&] { return client.TryReadFrame(text); }));
    EXPECT_EQ(text, "broadcast \"Walk\"");
}

// The peer closes with part of a frame sent: the complete frames come first,
// then an error, because the rest can no longer arrive.
class ScratchCutFrameTest : public ScratchReadFrameTest,
                            public testing::WithParamInterface<std::string> {};

TEST_P(ScratchCutFrameTest, ComesAfterTheCompleteFramesAsAnError) {
    peer.SendRaw(ScratchPeer::Frame("complete") + GetParam(), 0);
    peer.CloseClient(0);
    std::vector<std::string> frames;
    bool failed = false;
    ASSERT_TRUE(PollUntil([&] {
        try {
            DrainFrames(frames);
        } catch (const EScratchProtocolError&) {
            ADD_FAILURE() << "a cut frame is no protocol error";
            return true;
        } catch (const EScratchSocketError&) {
            failed = true;
        }
        return failed;
    }));
    EXPECT_EQ(frames, std::vector<std::string>{"complete"});
    EXPECT_EQ(client.BufferedBytes(), GetParam().size());
    EXPECT_TRUE(client.Connected()) << "while the cut frame waits";
    EXPECT_FALSE(client.IsOpen());
    client.Disconnect();
    EXPECT_EQ(disconnectedEvents, 0);
    EXPECT_FALSE(client.Connected());
}

INSTANTIATE_TEST_SUITE_P(Cuts, ScratchCutFrameTest,
                         testing::Values(std::string(2, '\0'), ScratchPeer::Length(10) + "abc",
                                         ScratchPeer::Length(10)));

} // namespace
} // namespace kobito
