#include "ClientFixture.h"
#include "ScratchFrame.h"

#include <climits>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace kobito {
namespace {

TEST(ScratchClientDefaults, PointAtScratchOnThisMachine) {
    TScratchClient client;
    EXPECT_EQ(client.Host, "127.0.0.1");
    EXPECT_EQ(client.Port, 42001);
    EXPECT_FALSE(client.Connected());
    EXPECT_TRUE(client.InputBufferIsEmpty());
}

using ScratchClientTest = ClientFixture;

TEST_F(ScratchClientTest, ConnectNotifiesBeforeItReturns) {
    std::vector<std::string> events;
    client.OnConnected = [&] { events.push_back(client.Connected() ? "open" : "not open"); };
    client.Connect();
    events.push_back("returned");
    EXPECT_EQ(events, (std::vector<std::string>{"open", "returned"}));
    EXPECT_TRUE(peer.WaitForClients(1, kWait));
    EXPECT_TRUE(client.Connected());
}

TEST_F(ScratchClientTest, ConnectFailsWhileConnectedAndKeepsTheConnection) {
    ConnectToPeer();
    EXPECT_THROW(client.Connect(), EScratchSocketError);
    EXPECT_EQ(connectedEvents, 1);
    EXPECT_TRUE(client.Connected());
    client.Write(7);
    EXPECT_TRUE(peer.WaitForBytes(4, kWait, 0));
    EXPECT_EQ(peer.Received(0), test::ScratchPeer::Length(7));
}

TEST_F(ScratchClientTest, RefusedConnectionThrowsAndLeavesNoConnection) {
    test::UnusedPort closed;
    client.Port = closed.Port();
    try {
        client.Connect();
        FAIL() << "connected to a port where nothing listens";
    } catch (const EScratchSocketError& error) {
        EXPECT_NE(error.Code(), 0);
        EXPECT_NE(std::string(error.what()).find("127.0.0.1:" + std::to_string(closed.Port())),
                  std::string::npos)
            << error.what();
    }
    EXPECT_EQ(connectedEvents, 0);
    EXPECT_FALSE(client.Connected());
    client.Disconnect();
    EXPECT_EQ(disconnectedEvents, 0);
    EXPECT_THROW(client.Write(1), EScratchSocketError);

    // The same client connects once something listens.
    client.Port = peer.Port();
    ConnectToPeer();
    EXPECT_EQ(connectedEvents, 1);
    EXPECT_TRUE(client.Connected());
}

// Disconnect notifies only when it closes an open connection.
class ScratchClientDisconnectTest;

struct DisconnectCase {
    const char* name;
    void (*before)(ScratchClientDisconnectTest&);
    int notifications;
    bool peerSeesClose;
};

void PrintTo(const DisconnectCase& c, std::ostream* os) {
    *os << c.name;
}

class ScratchClientDisconnectTest : public ClientFixture,
                                    public testing::WithParamInterface<DisconnectCase> {
public:
    void Connect() { ConnectToPeer(); }
    void ConnectAndDisconnect() {
        ConnectToPeer();
        client.Disconnect();
    }
    void FailToConnect() {
        test::UnusedPort closed;
        client.Port = closed.Port();
        EXPECT_THROW(client.Connect(), EScratchSocketError);
    }
    void PeerClosesAndClientNotices() {
        ConnectToPeer();
        peer.CloseClient(0);
        ASSERT_TRUE(PollUntil([&] { return !client.Connected(); }));
    }
};

TEST_P(ScratchClientDisconnectTest, NotifiesOnlyWhenAConnectionIsOpen) {
    GetParam().before(*this);
    const int before = disconnectedEvents;
    client.Disconnect();
    EXPECT_EQ(disconnectedEvents - before, GetParam().notifications);
    EXPECT_FALSE(client.Connected());
    if (GetParam().peerSeesClose) {
        EXPECT_TRUE(peer.WaitForClientClosed(kWait, 0));
    }
    client.Disconnect();
    EXPECT_EQ(disconnectedEvents - before, GetParam().notifications);
}

INSTANTIATE_TEST_SUITE_P(
    States, ScratchClientDisconnectTest,
    testing::Values(
        DisconnectCase{"NeverConnected", [](ScratchClientDisconnectTest&) {}, 0, false},
        DisconnectCase{"ConnectFailed", [](ScratchClientDisconnectTest& t) { t.FailToConnect(); },
                       0, false},
        DisconnectCase{"Open", [](ScratchClientDisconnectTest& t) { t.Connect(); }, 1, true},
        DisconnectCase{"AlreadyDisconnected",
                       [](ScratchClientDisconnectTest& t) { t.ConnectAndDisconnect(); }, 0, true},
        DisconnectCase{"ClosedByThePeer",
                       [](ScratchClientDisconnectTest& t) { t.PeerClosesAndClientNotices(); }, 0,
                       false}),
    [](const testing::TestParamInfo<DisconnectCase>& info) { return info.param.name; });

TEST_F(ScratchClientTest, DestroyingTheClientClosesWithoutNotifying) {
    auto owned = std::make_unique<TScratchClient>();
    owned->Port = peer.Port();
    bool notified = false;
    owned->OnDisconnected = [&] { notified = true; };
    owned->Connect();
    ASSERT_TRUE(peer.WaitForClients(1, kWait));
    owned.reset();
    EXPECT_TRUE(peer.WaitForClientClosed(kWait, 0));
    EXPECT_FALSE(notified);
}

TEST_F(ScratchClientTest, WritesTheDoneMessageByteForByte) {
    ConnectToPeer();
    client.Write(16);
    client.Write(kScratchDoneText);
    ASSERT_TRUE(peer.WaitForFrames(1, kWait, 0));
    EXPECT_EQ(peer.Received(0), std::string("\x00\x00\x00\x10"
                                            "broadcast \"Done\"",
                                            20));
    EXPECT_EQ(peer.Frames(0), std::vector<std::string>{"broadcast \"Done\""});
}

TEST_F(ScratchClientTest, WritesIntegersBigEndianAndTextsAsTheirBytes) {
    ConnectToPeer();
    std::string expected;
    for (std::int32_t value : {0, 1, -1, 0x01020304, INT32_MIN, INT32_MAX}) {
        client.Write(value);
        expected += test::ScratchPeer::Length(value);
    }
    for (std::string_view text : {"", "歩く", ""}) {
        client.Write(text);
        expected += text;
    }
    client.Write(std::string_view("a\0b", 3));
    expected += std::string("a\0b", 3);
    ASSERT_TRUE(peer.WaitForBytes(expected.size(), kWait, 0));
    EXPECT_EQ(peer.Received(0), expected);
}

TEST_F(ScratchClientTest, WriteWithoutAConnectionThrows) {
    EXPECT_THROW(client.Write(16), EScratchSocketError);
    EXPECT_THROW(client.Write(kScratchDoneText), EScratchSocketError);
    ConnectToPeer();
    client.Disconnect();
    EXPECT_THROW(client.Write(16), EScratchSocketError);
    EXPECT_THROW(client.Write(kScratchDoneText), EScratchSocketError);
}

TEST_F(ScratchClientTest, WritingToAClosedPeerThrowsInsteadOfEndingTheProgram) {
    ConnectToPeer();
    peer.CloseClient(0);
    // The first sends may still be accepted locally; the reset comes back soon.
    EXPECT_TRUE(PollUntil([&] {
        try {
            client.Write(ScratchDoneFrame());
            return false;
        } catch (const EScratchSocketError& error) {
            return error.Code() != 0;
        }
    }));
}

TEST_F(ScratchClientTest, ReadsFramesSentWhole) {
    ConnectToPeer();
    const std::vector<std::string> texts = {"broadcast \"Walk\"", "", "broadcast \"歩く\"",
                                            std::string(70000, 'x')};
    for (const std::string& text : texts)
        peer.SendFrame(text, 0);
    for (const std::string& text : texts) {
        const std::int32_t length = client.ReadLongInt();
        EXPECT_EQ(length, static_cast<std::int32_t>(text.size()));
        EXPECT_EQ(client.ReadString(length), text);
    }
    EXPECT_TRUE(client.InputBufferIsEmpty());
}

TEST_F(ScratchClientTest, BlockingReadsWaitForPiecesThatComeLater) {
    ConnectToPeer();
    const std::string text = "broadcast \"右手を上げる\"";
    peer.SendInPieces(test::ScratchPeer::Frame(text) + test::ScratchPeer::Frame("next"), 3, 5ms, 0);
    const std::int32_t length = client.ReadLongInt();
    EXPECT_EQ(client.ReadString(length), text);
    EXPECT_EQ(client.ReadLongInt(), 4);
    EXPECT_EQ(client.ReadString(4), "next");
    EXPECT_TRUE(peer.WaitSent());
}

TEST_F(ScratchClientTest, ReadStringOfNoBytesReadsNothing) {
    ConnectToPeer();
    peer.SendRaw("abc", 0);
    ASSERT_TRUE(PollUntil([&] { return client.Connected() && client.BufferedBytes() == 3; }));
    for (std::int32_t count : {0, -1, INT32_MIN}) {
        EXPECT_EQ(client.ReadString(count), "");
        EXPECT_EQ(client.BufferedBytes(), 3u);
    }
    EXPECT_THROW(client.ReadString(kScratchMaxTextLength + 1), EScratchProtocolError);
    EXPECT_EQ(client.BufferedBytes(), 3u);
    EXPECT_EQ(client.ReadString(3), "abc");
}

TEST_F(ScratchClientTest, BlockingReadsThrowWhenThePeerClosesFirst) {
    ConnectToPeer();
    peer.SendRaw(test::ScratchPeer::Length(10) + "abc", 0);
    peer.CloseClient(0);
    EXPECT_EQ(client.ReadLongInt(), 10);
    EXPECT_THROW(client.ReadString(10), EScratchSocketError);
    EXPECT_EQ(client.BufferedBytes(), 3u); // kept: Connected stays true while they wait
    EXPECT_TRUE(client.Connected());
    EXPECT_EQ(client.ReadString(3), "abc");
    EXPECT_FALSE(client.Connected());
    EXPECT_THROW(client.ReadLongInt(), EScratchSocketError);
    EXPECT_EQ(disconnectedEvents, 0);
}

TEST_F(ScratchClientTest, ConnectedNoticesThePeerClosingAfterTheLastByteIsRead) {
    ConnectToPeer();
    const std::string frame = test::ScratchPeer::Frame("broadcast \"Walk\"");
    peer.SendRaw(frame, 0);
    peer.CloseClient(0);
    ASSERT_TRUE(
        PollUntil([&] { return client.Connected() && client.BufferedBytes() == frame.size(); }));
    // Closed underneath, yet open while the message waits.
    EXPECT_TRUE(client.Connected());
    const std::int32_t length = client.ReadLongInt();
    EXPECT_EQ(client.ReadString(length), "broadcast \"Walk\"");
    EXPECT_TRUE(PollUntil([&] { return !client.Connected(); }));
    EXPECT_EQ(disconnectedEvents, 0);
    client.Disconnect();
    EXPECT_EQ(disconnectedEvents, 0);

    // A new connection starts afresh.
    client.Connect();
    ASSERT_TRUE(peer.WaitForClients(2, kWait));
    EXPECT_TRUE(client.Connected());
    EXPECT_TRUE(client.InputBufferIsEmpty());
    EXPECT_EQ(connectedEvents, 2);
    peer.SendFrame("again", 1);
    EXPECT_EQ(client.ReadLongInt(), 5);
    EXPECT_EQ(client.ReadString(5), "again");
}

TEST_F(ScratchClientTest, OnlyConnectedMovesArrivedBytesIntoTheBuffer) {
    ConnectToPeer();
    // Silent peer: Connected must answer without waiting for data.
    EXPECT_TRUE(client.Connected());
    EXPECT_TRUE(client.InputBufferIsEmpty());

    peer.SendFrame("broadcast \"Walk\"", 0);
    // The bytes are in this machine's socket buffer by now; asking about
    // the buffer must not fetch them.
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(client.InputBufferIsEmpty());
    EXPECT_EQ(client.BufferedBytes(), 0u);
    EXPECT_TRUE(PollUntil([&] { return client.Connected() && !client.InputBufferIsEmpty(); }));
}

} // namespace
} // namespace kobito
