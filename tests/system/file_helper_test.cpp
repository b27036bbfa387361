#include "system/file_helper.h"

#include <gtest/gtest.h>

#include <system_error>

namespace Core_Common {
namespace {

class FileHelperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t dir[MAX_PATH];
    ::GetTempPathW(MAX_PATH, dir);
    path_ = std::wstring(dir) + L"file_helper_" + std::to_wstring(::GetCurrentProcessId()) + L".ini";
    ::DeleteFileW(path_.c_str());
  }
  void TearDown() override { ::DeleteFileW(path_.c_str()); }
  bool exists() const { return ::GetFileAttributesW(path_.c_str()) != INVALID_FILE_ATTRIBUTES; }

  std::wstring path_;
};

TEST_F(FileHelperTest, AMissingFileReadsAsFalseAndIsNotCreated) {
  std::string content = "stale";
  ::SetLastError(0);
  EXPECT_FALSE(read_whole_file(path_, content));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(exists());

  file_t file;
  try {
    file.open(path_, true);
    FAIL() << "opening a missing file read-only must throw";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code().value(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(e.code().category(), std::system_category());
  }
  EXPECT_FALSE(exists());
}

TEST_F(FileHelperTest, EmptyAndRewrittenFilesReadBackExactly) {
  write_whole_file(path_, "");
  std::string content = "stale";
  EXPECT_TRUE(read_whole_file(path_, content));
  EXPECT_TRUE(content.empty());

  write_whole_file(path_, std::string("language=2052\r\nsecond line, much longer\r\n\0x", 44));
  write_whole_file(path_, "short");
  EXPECT_TRUE(read_whole_file(path_, content));
  EXPECT_EQ(content, "short");

  file_t file;
  file.open(path_, false);
  EXPECT_EQ(file.get_length(), 5u);
  file.set_length(2);
  EXPECT_EQ(file.get_length(), 2u);
  char buffer[8] = {};
  EXPECT_EQ(file.read(buffer, 0), 0u);
  EXPECT_EQ(file.read(buffer, sizeof buffer), 0u);  // the pointer stands at the new end
  file.close();
  EXPECT_FALSE(file.is_open());
  EXPECT_TRUE(read_whole_file(path_, content));
  EXPECT_EQ(content, "sh");
}

TEST_F(FileHelperTest, ADirectoryIsNotAFileToRead) {
  wchar_t dir[MAX_PATH];
  ::GetTempPathW(MAX_PATH, dir);
  std::string content;
  EXPECT_FALSE(read_whole_file(dir, content));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
}  // namespace Core_Common
