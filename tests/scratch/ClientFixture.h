#pragma once
#include "ScratchClient.h"
#include "ScratchPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace kobito {

using namespace std::chrono_literals;

// Generous: only a broken client comes near it.
inline constexpr std::chrono::milliseconds kWait = 10s;

// Repeats step until it returns true or kWait has passed; the client moves
// bytes only when asked, so step usually calls Connected or TryReadFrame.
template <typename Step> bool PollUntil(Step step) {
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (!step()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// A client connected to a fresh peer, counting its notifications.
class ClientFixture : public testing::Test {
protected:
    void SetUp() override {
        client.Port = peer.Port();
        client.OnConnected = [this] { ++connectedEvents; };
        client.OnDisconnected = [this] { ++disconnectedEvents; };
    }

    void ConnectToPeer() {
        client.Connect();
        ASSERT_TRUE(peer.WaitForClients(1, kWait));
    }

    // Takes every complete frame there is now.
    void DrainFrames(std::vector<std::string>& frames) {
        std::string text;
        while (client.TryReadFrame(text))
            frames.push_back(text);
    }

    test::ScratchPeer peer;
    TScratchClient client;
    int connectedEvents = 0;
    int disconnectedEvents = 0;
};

} // namespace kobito
