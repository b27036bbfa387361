// The reporter's byte-level rules: crash-log values, dump paths, the
// install id and the archive's backups.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "reporter/archive_backup.h"
#include "reporter/crash_log_values.h"
#include "reporter/dump_path_patch.h"
#include "reporter/install_id.h"

namespace Faultpost {
namespace {

std::string utf16le(const std::u16string& text) {
  std::string bytes;
  for (char16_t unit : text) bytes += std::string{static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
  return bytes;
}

TEST(CrashLogValuesTest, ValuesAreReadUpToTheLineEndWithinTheirLimit) {
  const std::string log = utf16le(u"\uFEFFx caused y\r\nProgram name: Drovan Plugin\r\ncrash info: \r\n");
  EXPECT_EQ(crash_log_value(log, "Program name: "), utf16le(u"Drovan Plugin"));
  EXPECT_EQ(crash_log_value(log, "crash info: "), std::string());
  EXPECT_FALSE(crash_log_value(log, "debug info: ").has_value());
  // 50 characters are 100 bytes and pass; 51 do not.
  EXPECT_TRUE(crash_log_value(utf16le(u"Program name: " + std::u16string(50, u'a') + u"\r\n"), "Program name: "));
  EXPECT_FALSE(crash_log_value(utf16le(u"Program name: " + std::u16string(51, u'a') + u"\r\n"), "Program name: "));
  // No line end after the key.
  EXPECT_FALSE(crash_log_value(utf16le(u"Program name: abc"), "Program name: "));
  // An odd byte count: the key found at an odd offset.
  EXPECT_FALSE(crash_log_value("x" + utf16le(u"Program name: ab") + std::string("c\r\0\n\0", 5), "Program name: "));
}

TEST(DumpPathPatchTest, TheTagIsTheArgumentOrItsFirstTenCharactersAndExe) {
  EXPECT_EQ(dump_replacement_tag(u"123456789012"), u"123456789012");
  EXPECT_EQ(dump_replacement_tag(u"dr20100201plugin_Drovan.exe"), u"dr20100201.exe");
}

// A dump-like buffer: some bytes, the executable's path, filler, "ntdll.dll"
// and the library's path behind it.
std::string dump_with(const std::u16string& executable, const std::u16string& library) {
  std::string dump(300, 'x');
  dump += utf16le(executable) + std::string(2, '\0');
  dump += std::string(40, '\1');
  dump += utf16le(u"ntdll.dll") + std::string(2, '\0') + std::string(30, '\1');
  dump += utf16le(library) + std::string(2, '\0') + std::string(100, '\1');
  return dump;
}

TEST(DumpPathPatchTest, BothPathsAreReplacedInPlaceWhenTheyHaveRoom) {
  const std::u16string dir = u"C:\\Program Files\\Orbwell Plugins\\Drovan";
  std::string dump = dump_with(u"c:\\program files\\orbwell plugins\\drovan\\plugin_Drovan.exe",
                               dir + u"\\plugin_Drovan.dll");
  const size_t size = dump.size();
  ASSERT_TRUE(patch_dump_paths(dump, dir, u"dr20100201plugin_Drovan.exe"));
  EXPECT_EQ(dump.size(), size);
  EXPECT_NE(dump.find(utf16le(u"d:\\qa\\dr20100201.exe") + std::string(2, '\0')), std::string::npos);
  EXPECT_NE(dump.find(utf16le(u"d:\\qa\\dr20100201.dll") + std::string(2, '\0')), std::string::npos);
  EXPECT_EQ(dump.find(utf16le(u"Orbwell Plugins")), std::string::npos);
}

TEST(DumpPathPatchTest, APathNoLongerThanTheReplacementIsLeftAlone) {
  // "d:\qa\" and a 12-character tag: 18 characters, as long as the path.
  const std::u16string dir = u"C:\\d";
  const std::string dump = dump_with(u"C:\\d\\abcdefghijklm", u"C:\\d\\elsewhere.dll");
  std::string patched = dump;
  EXPECT_FALSE(patch_dump_paths(patched, dir, u"123456789012"));
  EXPECT_EQ(patched, dump);
  // One character longer has room.
  std::string longer = dump_with(u"C:\\d\\abcdefghijklmn", u"C:\\d\\elsewhere.dll");
  EXPECT_TRUE(patch_dump_paths(longer, dir, u"123456789012"));
  EXPECT_NE(longer.find(utf16le(u"d:\\qa\\123456789012")), std::string::npos);
}

TEST(DumpPathPatchTest, WithoutNtdllOrAMatchNothingChanges) {
  std::string dump(5000, 'x');
  EXPECT_FALSE(patch_dump_paths(dump, u"C:\\dir", u"app"));
  dump = utf16le(u"ntdll.dll") + std::string(100, '\0');  // at the start: no executable window
  EXPECT_FALSE(patch_dump_paths(dump, u"C:\\dir", u"app"));
  // A match whose path runs to the window's end has no zero pair: unchanged.
  std::string tail = std::string(300, 'x') + utf16le(u"ntdll.dll") + utf16le(u"C:\\dir\\plugin_Drovan.dll");
  const std::string before = tail;
  EXPECT_FALSE(patch_dump_paths(tail, u"C:\\dir", u"app"));
  EXPECT_EQ(tail, before);
}

TEST(InstallIdTest, OnlyExactlyThirtyTwoBytesMakeAnId) {
  const std::string id(32, 'a');
  EXPECT_EQ(install_id_from("<x><ClientInstallID>" + id + "</ClientInstallID></x>"), id);
  EXPECT_EQ(install_id_from("<ClientInstallID>" + id.substr(1) + "</ClientInstallID>"), "");
  EXPECT_EQ(install_id_from("<ClientInstallID>" + id + "b</ClientInstallID>"), "");
  EXPECT_EQ(install_id_from("<ClientInstallID>" + id), "");
  EXPECT_EQ(install_id_from(""), "");
}

TEST(ArchiveBackupTest, TheOldArchiveGoesToTheFirstFreeNumber) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / "faultpost_backup_test";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path archive = dir / "CRASH.ZIP";
  EXPECT_TRUE(backup_old_archive(archive).empty());  // nothing to keep
  std::ofstream(archive, std::ios::binary) << "old";
  std::ofstream(backup_name(archive, 1), std::ios::binary) << "older";
  EXPECT_EQ(backup_old_archive(archive), dir / "CRASH.ZIP.0002");
  {
    std::ifstream copy(dir / "CRASH.ZIP.0002", std::ios::binary);
    std::string text;
    copy >> text;
    EXPECT_EQ(text, "old");
  }
  EXPECT_EQ(backup_name(archive, 9999).filename(), "CRASH.ZIP.9999");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace Faultpost
