#pragma once
// How kobito-sim writes a reply: whole, or in pieces with noise before it,
// to try the program's receive path the way a slow or noisy line does.
#include <string>
#include <vector>

namespace kobito::sim {

// A reply as the writes to make. Unsplit: one write of noise ('~' bytes) and
// reply. Split: the noise, then the reply in pieces of pieceSize bytes (0: two
// halves, the first the larger, so "#QPT000" goes as "#QPT" and "000").
std::vector<std::string> ReplyPieces(const std::string& reply, int noise, bool split,
                                     int pieceSize);

} // namespace kobito::sim
