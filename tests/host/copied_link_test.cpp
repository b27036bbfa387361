#include "host/copied_link.h"

#include <gtest/gtest.h>

#include <vector>

namespace Plugin_Host {
namespace {

std::vector<unsigned char> utf16le(const std::u16string& text, bool terminated) {
  std::vector<unsigned char> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
    bytes.push_back(static_cast<unsigned char>(unit >> 8));
  }
  if (terminated) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

TEST(CopiedLinkTest, TextIsReadUpToTheTerminatorAndNeverPastTheGivenBytes) {
  const auto terminated = utf16le(u"ab://c", true);
  EXPECT_EQ(read_copied_text(terminated.data(), terminated.size()), u"ab://c");
  // A sender that claims more bytes than the text: the terminator ends it.
  EXPECT_EQ(read_copied_text(terminated.data(), 4), u"ab");
  // Without a terminator the byte count ends it; heap-allocated exactly, so
  // the sanitizer build catches any read past it.
  const auto bare = utf16le(u"xyz", false);
  const std::vector<unsigned char> exact(bare.begin(), bare.end());
  EXPECT_EQ(read_copied_text(exact.data(), exact.size()), u"xyz");
  EXPECT_EQ(read_copied_text(exact.data(), 5), u"xy");  // an odd last byte is not read
  EXPECT_EQ(read_copied_text(exact.data(), 0), u"");
  EXPECT_EQ(read_copied_text(nullptr, 100), u"");
}

TEST(CopiedLinkTest, StrictUtf8RefusesWhatIsNotUtf8) {
  EXPECT_EQ(decode_utf8_strictly("a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80"),
            std::u16string(u"a\u00E9\u4E2D\U0001F600"));
  for (const char* bad : {"\xC3", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                          "\x80", "\xFF", "\xC3\x28", "\xF0\x9F\x98"}) {
    EXPECT_FALSE(decode_utf8_strictly(bad).has_value()) << bad;
  }
}

TEST(CopiedLinkTest, ByteWideTextIsDecodedAsUtf8AndOtherTextKept) {
  // UTF-8 bytes widened one by one.
  std::u16string widened;
  for (unsigned char byte : std::string("magnet://\xE4\xB8\xAD\xC3\xA9")) widened.push_back(byte);
  EXPECT_EQ(repair_copied_link(widened), u"magnet://\u4E2D\u00E9");
  // Latin-1 text that is not UTF-8 is kept as it was given.
  EXPECT_EQ(repair_copied_link(u"link://caf\u00E9"), u"link://caf\u00E9");
  // Text with a unit at or above U+0100 is already proper.
  EXPECT_EQ(repair_copied_link(u"link://\u4E2D\u00E9"), u"link://\u4E2D\u00E9");
  EXPECT_EQ(repair_copied_link(u"plain://ascii"), u"plain://ascii");
}

}  // namespace
}  // namespace Plugin_Host
