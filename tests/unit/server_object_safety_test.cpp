#include "server/object_safety.h"

#include <gtest/gtest.h>

namespace trv {
namespace {

TEST(SafetyOptions, StartsOffAndFollowsMaskArithmetic) {
    SafetyOptions options;
    EXPECT_EQ(options.Enabled(), 0u);
    EXPECT_EQ(SafetyOptions::kSupported, 3u);

    EXPECT_TRUE(options.Set(1, 1));
    EXPECT_EQ(options.Enabled(), 1u);

    // An unsupported bit refuses the whole request.
    EXPECT_FALSE(options.Set(4, 4));
    EXPECT_EQ(options.Enabled(), 1u);
    EXPECT_FALSE(options.Set(7, 7));
    EXPECT_EQ(options.Enabled(), 1u);

    // Bits outside the mask keep their value.
    EXPECT_TRUE(options.Set(2, 2));
    EXPECT_EQ(options.Enabled(), 3u);
    EXPECT_TRUE(options.Set(3, 0));
    EXPECT_EQ(options.Enabled(), 0u);

    // Enabled bits outside the mask are ignored.
    EXPECT_TRUE(options.Set(1, 3));
    EXPECT_EQ(options.Enabled(), 1u);
    EXPECT_TRUE(options.Set(0, 3));
    EXPECT_EQ(options.Enabled(), 1u);
    EXPECT_TRUE(options.Set(2, 0xFFFFFFFFu));
    EXPECT_EQ(options.Enabled(), 3u);
}

}  // namespace
}  // namespace trv
