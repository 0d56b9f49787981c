#include "ReplyPieces.h"

namespace kobito::sim {

std::vector<std::string> ReplyPieces(const std::string& reply, int noise, bool split,
                                     int pieceSize) {
    const std::string noiseBytes(static_cast<std::size_t>(noise > 0 ? noise : 0), '~');
    if (!split)
        return {noiseBytes + reply};
    std::vector<std::string> pieces;
    if (!noiseBytes.empty())
        pieces.push_back(noiseBytes);
    const std::size_t size =
        pieceSize > 0 ? static_cast<std::size_t>(pieceSize) : (reply.size() + 1) / 2;
    for (std::size_t i = 0; i < reply.size(); i += size)
        pieces.push_back(reply.substr(i, size));
    return pieces;
}

} // namespace kobito::sim
