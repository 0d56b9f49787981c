#pragma once
#include <chrono>
#include <string>
#include <string_view>

struct termios;

namespace kobito::test {

// A pseudo-terminal pair: the code under test opens SlavePath(), the test
// plays the other end on the master. A slave descriptor is held open so the
// master never sees a hang-up while the code under test closes and reopens.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    int Master() const { return master_; }

    void Write(std::string_view bytes);
    // Reads until count bytes have come or timeout passed.
    std::string ReadCount(std::size_t count, std::chrono::milliseconds timeout);
    // Reads whatever comes until nothing more has come for quiet.
    std::string ReadUntilQuiet(std::chrono::milliseconds quiet);
    // The slave's line settings.
    void Attributes(termios& t) const;
    // Pulls the cable: closes the master and the held slave.
    void HangUp();

private:
    int master_ = -1;
    int heldSlave_ = -1;
    std::string slavePath_;
};

} // namespace kobito::test
