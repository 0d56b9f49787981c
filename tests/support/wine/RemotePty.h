#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace kobito::test {

// A pseudo-terminal on the Linux side of Wine, owned by ptyrelay: each
// object gets a new one, which COM1 then reaches, and plays its other end
// over a loopback connection to the relay. Throws std::runtime_error.
class RemotePty {
public:
    // The relay's port from KOBITO_PTY_RELAY_PORT; 0 when not set.
    static std::uint16_t RelayPort();

    RemotePty();
    ~RemotePty();
    RemotePty(const RemotePty&) = delete;
    RemotePty& operator=(const RemotePty&) = delete;

    // The slave's Linux path, for messages.
    const std::string& SlavePath() const { return slavePath_; }

    void Write(std::string_view bytes);
    // Reads until count bytes have come or timeout passed.
    std::string ReadCount(std::size_t count, std::chrono::milliseconds timeout);
    // Reads whatever comes until nothing more has come for quiet.
    std::string ReadUntilQuiet(std::chrono::milliseconds quiet);
    // The slave's line settings as Linux has them, e.g.
    // "57600 8N1 crtscts=0 ixon=0 ixoff=0".
    static std::string LineSettings();
    // Pulls the cable: the relay closes the pty and this connection.
    static void HangUp();
    // Makes the device behind COM1 fail as the words say (see ptymodem.c:
    // "write", "gone", "nomodem"); no words: no faults. A new pty has none.
    static void Fault(const std::string& words);

private:
    std::uintptr_t socket_;
    std::string slavePath_;
};

} // namespace kobito::test
