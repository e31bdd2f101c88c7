#include "chat/core/windows/line_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace chat {
namespace {

std::vector<std::string> Texts(const LineList& list) {
    std::vector<std::string> out;
    for (const Line& l : list) out.push_back(l.text);
    return out;
}

TEST(LineListTest, SortedInsertionPutsCapitalsFirstAndNeverPassesNonLetters) {
    LineList list;
    for (const char* name : {"bob", "Alice", "carol", "Dave"}) aline(list, name, true);
    EXPECT_EQ(Texts(list), (std::vector<std::string>{"Alice", "Dave", "bob", "carol"}));

    LineList other;
    aline(other, "Alice", true);
    aline(other, "bob", true);
    aline(other, "#chan", true);
    aline(other, "Zed", true);
    EXPECT_EQ(Texts(other), (std::vector<std::string>{"#chan", "Alice", "Zed", "bob"}));

    // A line not starting with a letter stays where it was put; later lines go after it.
    LineList mixed;
    aline(mixed, "zed", false);
    aline(mixed, "1st", false);
    aline(mixed, "abe", true);
    EXPECT_EQ(Texts(mixed), (std::vector<std::string>{"abe", "zed", "1st"}));
}

TEST(LineListTest, TopOperationsAndUniqueRemoval) {
    LineList list;
    aline(list, "one", false, 7);
    aline(list, "two", false);
    aline(list, "Three", false);
    atopline(list, "three", true);  // removes the tail that equals it ignoring case
    EXPECT_EQ(Texts(list), (std::vector<std::string>{"three", "one", "two"}));
    EXPECT_EQ(list.back().text, "two");
    EXPECT_EQ(list.front().value, 0);

    rtopline(list);
    EXPECT_EQ(list.front().value, 7);
    movetotop(list, std::prev(list.end()));
    EXPECT_EQ(Texts(list), (std::vector<std::string>{"two", "one"}));
    rline(list, std::prev(list.end()));
    EXPECT_EQ(Texts(list), (std::vector<std::string>{"two"}));
    rline(list, list.begin());
    EXPECT_TRUE(list.empty());
    rtopline(list);  // harmless on an empty list
}

TEST(LineListTest, SpliceAtFrontMiddleAndEnd) {
    LineList main;
    LineList other{{0, "x"}, {0, "y"}};
    iline(main, main.end(), std::move(other));
    EXPECT_EQ(Texts(main), (std::vector<std::string>{"x", "y"}));
    iline(main, std::next(main.begin()), LineList{{0, "m"}});
    iline(main, main.begin(), LineList{{0, "a"}});
    iline(main, main.end(), LineList{{0, "z"}});
    EXPECT_EQ(Texts(main), (std::vector<std::string>{"a", "x", "m", "y", "z"}));
}

}  // namespace
}  // namespace chat
