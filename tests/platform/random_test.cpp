#include "platform/random.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <vector>

namespace korvel {
namespace {

// A broken retry loop would leave the tail of a larger request unfilled or
// repeat the same bytes; many draws must all differ and cover every byte.
TEST(FillRandomBytes, FillsEveryByteAndDrawsDiffer) {
    std::set<std::array<unsigned char, 8>> seen;
    for (int i = 0; i < 1000; ++i) {
        std::array<unsigned char, 8> id{};
        ASSERT_TRUE(FillRandomBytes(id.data(), id.size()));
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 1000u);

    std::vector<unsigned char> large(1 << 20, 0);
    ASSERT_TRUE(FillRandomBytes(large.data(), large.size()));
    size_t zeros = 0;
    for (unsigned char b : large) zeros += (b == 0);
    // About 4096 expected; an unfilled tail would give hundreds of thousands.
    EXPECT_LT(zeros, 6000u);
}

}  // namespace
}  // namespace korvel
