#include "dsp/flush_denormals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

namespace korvel {
namespace {

// volatile keeps the compiler from folding the product at build time.
float HalfOfSmallestNormal() {
    volatile float x = std::numeric_limits<float>::min();
    volatile float half = 0.5f;
    return x * half;
}

TEST(FlushDenormals, ScopeFlushesAndRestoresTheCallersMode) {
    if (!flush_denormals_detail::kFlushBits) GTEST_SKIP() << "no flush mode on this processor";
    std::thread([] {
        ASSERT_FALSE(FlushDenormalsEnabled());
        EXPECT_EQ(std::fpclassify(HalfOfSmallestNormal()), FP_SUBNORMAL);
        {
            const ScopedFlushDenormals scope;
            EXPECT_TRUE(FlushDenormalsEnabled());
            EXPECT_EQ(HalfOfSmallestNormal(), 0.0f);
        }
        EXPECT_FALSE(FlushDenormalsEnabled()) << "the caller's arithmetic must come back unchanged";
        EnableFlushDenormals();
        EXPECT_TRUE(FlushDenormalsEnabled());
        EXPECT_EQ(HalfOfSmallestNormal(), 0.0f);
    }).join();
}

}  // namespace
}  // namespace korvel
