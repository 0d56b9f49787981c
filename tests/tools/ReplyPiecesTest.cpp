// How kobito-sim cuts a reply into writes.
#include "ReplyPieces.h"

#include <gtest/gtest.h>

namespace kobito::sim {
namespace {

TEST(ReplyPieces, SplitsAsDocumented) {
    using V = std::vector<std::string>;
    EXPECT_EQ(ReplyPieces("#QPT000", 0, false, 0), V{"#QPT000"});
    EXPECT_EQ(ReplyPieces("#QPT000", 2, false, 0), V{"~~#QPT000"});
    EXPECT_EQ(ReplyPieces("#QPT000", 0, true, 0), (V{"#QPT", "000"}));
    EXPECT_EQ(ReplyPieces("#QPT000", 1, true, 3), (V{"~", "#QP", "T00", "0"}));
}

} // namespace
} // namespace kobito::sim
