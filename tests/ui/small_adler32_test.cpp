#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

#include "app/small_adler32.h"

namespace {

// The applier's stand-in against zlib's own: around the block length zlib's
// version reduces at (5552) and with sums that wrap the modulus many times.
TEST(SmallAdler32, MatchesZlib) {
    struct Case {
        uLong start;
        size_t length;
        unsigned char fill;
    };
    const Case cases[] = {
        {1, 0, 0},        {1, 1, 0x41},          {1, 5551, 0xff},
        {1, 5552, 0xff},  {1, 5553, 0xff},       {1, 100000, 0xff},
        {1, 70000, 0x01}, {0xfff0fff0, 3, 0x10}, {0x12345678, 16, 0x80},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> data(c.length, c.fill);
        for (size_t i = 0; i < data.size(); i += 7) data[i] = static_cast<unsigned char>(i);
        EXPECT_EQ(SmallAdler32(c.start, data.data(), data.size()),
                  adler32(c.start, data.data(), static_cast<uInt>(data.size())))
            << c.length;
    }
    EXPECT_EQ(SmallAdler32(0x12345678, nullptr, 0), adler32(0x12345678, Z_NULL, 0));
}

}  // namespace
