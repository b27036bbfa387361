#include "http/form_body.h"

#include <gtest/gtest.h>

#include <cstring>

namespace OrbwellSearch {
namespace {

TEST(FormBody, UrlEncodedIsNotEscaped) {
  EXPECT_EQ(build_urlencoded_body({{"a", "1", false}, {"b", "x y", false}}), "a=1&b=x y");
  EXPECT_EQ(build_urlencoded_body({}), "");
  EXPECT_EQ(build_urlencoded_body({{"f", "C:\\x", true}}), "f=C:\\x");
}

TEST(FormBody, MultipartTextFieldIs121Bytes) {
  const auto body = build_multipart_body({{"n", "v", false}}, nullptr);
  ASSERT_TRUE(body);
  const std::string expected =
      "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
      "Content-Disposition: form-data; name=\"n\"\r\n\r\nv\r\n"
      "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n";
  ASSERT_EQ(expected.size(), 121u);
  EXPECT_EQ(std::string(body->begin(), body->end()), expected);
  EXPECT_EQ(std::strlen(kMultipartContentType), 78u);
  EXPECT_EQ(std::strlen(kUrlEncodedContentType), 49u);
}

TEST(FormBody, AFilePartCarriesItsContentOrTheFormFails) {
  const File_Reader reader = [](const std::string& path) -> std::optional<std::vector<uint8_t>> {
    if (path == "present.zip" || path == "C:\\\xE7\x94\xA8\xE6\x88\xB7\\CRASH.ZIP") {
      return std::vector<uint8_t>{'P', 'K', 0, 1};
    }
    return std::nullopt;
  };
  const std::string head = "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n";
  const std::string tail = "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n";

  auto body = build_multipart_body({{"Filename", "present.zip", true}}, reader);
  ASSERT_TRUE(body);
  std::string part = "Content-Disposition: form-data; name=\"Filename\"; filename=\"present.zip\"\r\n\r\n";
  EXPECT_EQ(std::string(body->begin(), body->end()), head + part + std::string("PK\0\1", 4) + "\r\n" + tail);
  EXPECT_EQ(head.size() + part.size(), std::strlen(kMultipartBoundary) + 8 + 11 + 60);

  // The name on the wire as given (a code page's bytes, here "?" for what it
  // lacks), the file read from its own path.
  body = build_multipart_body({{"Filename", "C:\\??\\CRASH.ZIP", true, "C:\\\xE7\x94\xA8\xE6\x88\xB7\\CRASH.ZIP"}},
                              reader);
  ASSERT_TRUE(body);
  part = "Content-Disposition: form-data; name=\"Filename\"; filename=\"C:\\??\\CRASH.ZIP\"\r\n\r\n";
  EXPECT_EQ(std::string(body->begin(), body->end()), head + part + std::string("PK\0\1", 4) + "\r\n" + tail);

  // A file that cannot be read never leaves as a part without content.
  EXPECT_FALSE(build_multipart_body({{"n", "v", false}, {"Filename", "missing.zip", true}}, reader));
}

}  // namespace
}  // namespace OrbwellSearch
