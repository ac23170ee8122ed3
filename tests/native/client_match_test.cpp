// Which client builds a package accepts: major numbers alone below 256, major and minor above.
#include "locate/client_match.h"

#include <gtest/gtest.h>

TEST(ClientMatch, EntriesBelow256NameAMajorNumberAndLargerOnesAMajorAndMinorPair)
{
    const number_list majors{2, {132, 133}};
    EXPECT_TRUE(build_accepted(majors, 0x84, 0));
    EXPECT_TRUE(build_accepted(majors, 0x84, 9)) << "any minor number with a major-only entry";
    EXPECT_TRUE(build_accepted(majors, 133, 1));
    EXPECT_FALSE(build_accepted(majors, 134, 0));

    const number_list pair{1, {0x0584}};
    EXPECT_TRUE(build_accepted(pair, 0x84, 5));
    EXPECT_FALSE(build_accepted(pair, 0x84, 4));
    EXPECT_FALSE(build_accepted(pair, 0x84, 0));

    const number_list zero{1, {0}};
    EXPECT_TRUE(build_accepted(zero, 0, 0)) << "a database without a version record is build 0";
    EXPECT_FALSE(build_accepted(number_list{}, 0, 0)) << "an empty list accepts nothing";
}
