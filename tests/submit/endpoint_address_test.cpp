#include "submit/endpoint_address.h"

#include <gtest/gtest.h>

namespace OrbwellSearch {
namespace {

TEST(EndpointAddress, ScrambledFormRestoresTheAddress) {
  constexpr auto stored = scramble_address("http://reports.example:8080/faultpost/submit.aspx");
  static_assert(stored.stored.size() == 49, "the address is 49 characters");
  EXPECT_EQ(unscramble_address(stored.stored.data(), stored.stored.size()),
            "http://reports.example:8080/faultpost/submit.aspx");
  EXPECT_NE(std::string(stored.stored.begin(), stored.stored.end()).find("reports"), 0u);
}

TEST(EndpointAddress, UpdatePageNamesTheAppAndLanguage) {
  const std::string site = report_site_address();
  EXPECT_EQ(update_page_address("plugin_Drovan", true),
            site + "/client/faultpost/?app_id=plugin_Drovan&l=zh_cn");
  EXPECT_EQ(update_page_address("x", false), site + "/client/faultpost/?app_id=x&l=us_en");
}

}  // namespace
}  // namespace OrbwellSearch
