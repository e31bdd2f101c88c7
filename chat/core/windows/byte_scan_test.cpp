#include "chat/core/windows/byte_scan.h"

#include <gtest/gtest.h>

#include <string>

namespace chat {
namespace {

// Every stopping byte at every place of runs longer than one wide step, and every bound.
TEST(ByteScanTest, FindsTheFirstStoppingByteWhereverItLies) {
    const unsigned char not_printable[] = {0x00, 0x01, 0x1f, 0x7f, 0x80, 0xc3, 0xff};
    for (size_t length = 0; length <= 40; ++length) {
        for (size_t at = 0; at < length; ++at) {
            for (unsigned char b : not_printable) {
                std::string s(length, 'a');
                s[at] = static_cast<char>(b);
                for (size_t from = 0; from <= at; from += 3) {
                    EXPECT_EQ(FirstNotPrintable(s, from, length), at)
                        << "length " << length << " at " << at << " byte " << int(b);
                    EXPECT_EQ(FirstNotAscii(s, from, length), b >= 0x80 ? at : length);
                    EXPECT_EQ(FirstNotPrintable(s, from, at), at);  // the bound holds
                }
            }
        }
        std::string plain(length, '~');
        plain.append(" \x7e");
        EXPECT_EQ(FirstNotPrintable(plain, 0, plain.size()), plain.size());
        EXPECT_EQ(FirstNotAscii(plain, 0, plain.size()), plain.size());
    }
}

// Stopping bytes just outside the range, before `from` or at and after `stop`, are never
// reported, and one inside is found from any start.
TEST(ByteScanTest, BytesOutsideTheRangeAreNeverReported) {
    for (size_t length = 16; length <= 48; ++length) {
        for (size_t from = 0; from < length; ++from) {
            for (size_t stop = from; stop <= length; ++stop) {
                std::string s(length, 'a');
                for (size_t k = 0; k < from; ++k) s[k] = k % 2 ? '\x01' : '\xc3';
                for (size_t k = stop; k < length; ++k) s[k] = k % 2 ? '\x7f' : '\x80';
                ASSERT_EQ(FirstNotPrintable(s, from, stop), stop) << from << " " << stop;
                ASSERT_EQ(FirstNotAscii(s, from, stop), stop) << from << " " << stop;
                if (stop - from < 2) continue;
                size_t inside = from + (stop - from) / 2;
                s[inside] = '\xe9';
                ASSERT_EQ(FirstNotPrintable(s, from, stop), inside) << from << " " << stop;
                ASSERT_EQ(FirstNotAscii(s, from, stop), inside) << from << " " << stop;
            }
        }
    }
}

}  // namespace
}  // namespace chat
