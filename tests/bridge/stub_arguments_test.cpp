#include "bridge/stub_arguments.h"

#include <gtest/gtest.h>

namespace Core_Drovan {
namespace {

using Core_IPC::Argument;

TEST(StubArgumentsTest, NumbersComeFromTheFrontOrFallBackWhenShort) {
  EXPECT_EQ(argument_i32(Argument{0xFE, 0xFF, 0xFF, 0xFF}, 0), -2);
  EXPECT_EQ(argument_i32(Argument{1, 0, 0, 0, 9, 9}, 0), 1);  // longer: its first 4 bytes
  EXPECT_EQ(argument_i32(Argument{1, 0, 0}, -1), -1);
  EXPECT_EQ(argument_i32(Argument{}, -1), -1);
  // A port sent as 4 bytes: its first 2.
  EXPECT_EQ(argument_u16(Argument{0x70, 0x11, 0x01, 0x00}), 0x1170);
  EXPECT_EQ(argument_u16(Argument{0x70}), 0);
  EXPECT_EQ(argument_u64(Argument{1, 2, 3, 4, 5, 6, 7, 8}), 0x0807060504030201u);
  EXPECT_EQ(argument_u64(Argument{1, 2, 3, 4, 5, 6, 7}), 0u);
  EXPECT_EQ(argument_byte(Argument{}), 0);
  EXPECT_EQ(argument_byte(Argument{2, 3}), 2);
}

TEST(StubArgumentsTest, TextsTakeEveryByteWithoutLookingForATerminator) {
  EXPECT_EQ(argument_string(Argument{'a', 0, 'b'}), std::string("a\0b", 3));
  EXPECT_EQ(argument_wide(Argument{'a', 0, 0x2D, 0x4E, 'z'}), u"a\u4E2D");  // an odd byte is dropped
  EXPECT_EQ(argument_wide(Argument{}), u"");
}

}  // namespace
}  // namespace Core_Drovan
