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
  const std::string expected =
      "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
      "Content-Disposition: form-data; name=\"n\"\r\n\r\nv\r\n"
      "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n";
  ASSERT_EQ(expected.size(), 121u);
  EXPECT_EQ(std::string(body.begin(), body.end()), expected);
  EXPECT_EQ(std::strlen(kMultipartContentType), 78u);
  EXPECT_EQ(std::strlen(kUrlEncodedContentType), 49u);
}

TEST(FormBody, FilePartCarriesTheContentOrItsHeaderAlone) {
  const File_Reader reader = [](const std::string& path) -> std::optional<std::vector<uint8_t>> {
    if (path == "present.zip") return std::vector<uint8_t>{'P', 'K', 0, 1};
    return std::nullopt;
  };
  const std::string head = "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n";
  const std::string tail = "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n";

  auto body = build_multipart_body({{"Filename", "present.zip", true}}, reader);
  std::string part = "Content-Disposition: form-data; name=\"Filename\"; filename=\"present.zip\"\r\n\r\n";
  EXPECT_EQ(std::string(body.begin(), body.end()), head + part + std::string("PK\0\1", 4) + "\r\n" + tail);

  body = build_multipart_body({{"Filename", "missing.zip", true}}, reader);
  part = "Content-Disposition: form-data; name=\"Filename\"; filename=\"missing.zip\"\r\n\r\n";
  EXPECT_EQ(std::string(body.begin(), body.end()), head + part + tail);
  EXPECT_EQ(head.size() + part.size(), std::strlen(kMultipartBoundary) + 8 + 11 + 60);
}

}  // namespace
}  // namespace OrbwellSearch
