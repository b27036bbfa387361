#include "zip/zip_archive.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "base/byte_order.h"
#include "zip/crc32.h"
#include "zip_test_support.h"

namespace Zip {
namespace {

namespace fs = std::filesystem;
using Core_Common::load_le16;
using Core_Common::load_le32;

class ZipArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zip_archive_test_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::string make_file(const std::string& name, const std::string& content) {
    std::ofstream(path(name), std::ios::binary) << content;
    return path(name);
  }

  fs::path dir_;
};

// Output that accepts a number of bytes and then fails every write.
class Failing_Output final : public Archive_Output {
 public:
  explicit Failing_Output(size_t budget) : budget_(budget) {}
  bool write(const uint8_t*, size_t size) override {
    if (size > budget_) return false;
    budget_ -= size;
    return true;
  }
  bool seek(uint64_t) override { return true; }

 private:
  size_t budget_;
};

TEST_F(ZipArchiveTest, EmptyArchiveIsTheEndRecordAlone) {
  auto handle = OpenArchive(path("empty.zip"));
  ASSERT_TRUE(handle);
  EXPECT_EQ(CloseArchive(std::move(handle)), AR_OK);
  const auto bytes = read_file(path("empty.zip"));
  std::vector<uint8_t> expected(22, 0);
  expected[0] = 'P', expected[1] = 'K', expected[2] = 5, expected[3] = 6;
  EXPECT_EQ(bytes, expected);
}

TEST_F(ZipArchiveTest, HeadersCarryTheFinalValuesByteForByte) {
  const std::string content = "crash log line\r\ncrash log line\r\n";
  const std::string source = make_file("log.txt", content);
  auto handle = OpenArchive(path("one.zip"));
  ASSERT_TRUE(handle);
  ASSERT_EQ(AddArchiveEntry(handle.get(), "logs\\CRASHLOG.TXT", source), AR_OK);
  ASSERT_EQ(CloseArchive(std::move(handle)), AR_OK);

  const auto zip = read_file(path("one.zip"));
  const uint8_t* p = zip.data();
  const std::string name = "logs/CRASHLOG.TXT";
  const uint32_t crc = crc32_update(0, reinterpret_cast<const uint8_t*>(content.data()), content.size());

  // Local header: final CRC and sizes, bit 3 clear, flags 2 for level 8.
  ASSERT_EQ(load_le32(p), 0x04034b50u);
  EXPECT_EQ(load_le16(p + 4), 20);
  EXPECT_EQ(load_le16(p + 6), 2);
  EXPECT_EQ(load_le16(p + 8), 8);
  EXPECT_EQ(load_le32(p + 14), crc);
  const uint32_t compressed = load_le32(p + 18);
  EXPECT_EQ(load_le32(p + 22), content.size());
  EXPECT_EQ(load_le16(p + 26), name.size());
  EXPECT_EQ(load_le16(p + 28), 17);
  EXPECT_EQ(std::string(p + 30, p + 30 + name.size()), name);
  const uint8_t* extra = p + 30 + name.size();
  EXPECT_EQ(std::string(extra, extra + 5), std::string("UT\x0d\x00\x07", 5));

  // The data inflates to the source.
  const std::vector<uint8_t> data(extra + 17, extra + 17 + compressed);
  const auto inflated = inflate_raw(data, content.size());
  EXPECT_EQ(std::string(inflated.begin(), inflated.end()), content);

  // Central header.
  const uint8_t* c = extra + 17 + compressed;
  ASSERT_EQ(load_le32(c), 0x02014b50u);
  EXPECT_EQ(load_le16(c + 4), 0x0B17);
  EXPECT_EQ(load_le16(c + 6), 20);
  EXPECT_EQ(load_le16(c + 8), 2);
  EXPECT_EQ(load_le16(c + 10), 8);
  EXPECT_EQ(load_le32(c + 12), load_le32(p + 10));  // same DOS time and date
  EXPECT_EQ(load_le32(c + 16), crc);
  EXPECT_EQ(load_le32(c + 20), compressed);
  EXPECT_EQ(load_le16(c + 30), 9);
  EXPECT_EQ(load_le32(c + 38), 0x81800020u);  // writable regular file, archive attribute
  EXPECT_EQ(load_le32(c + 42), 0u);
  const uint8_t* central_extra = c + 46 + name.size();
  EXPECT_EQ(std::string(central_extra, central_extra + 9),
            std::string(extra, extra + 2) + '\x05' + std::string(extra + 3, extra + 9));

  // End record.
  const uint8_t* e = central_extra + 9;
  ASSERT_EQ(e + 22, zip.data() + zip.size());
  EXPECT_EQ(load_le32(e), 0x06054b50u);
  EXPECT_EQ(load_le16(e + 8), 1);
  EXPECT_EQ(load_le16(e + 10), 1);
  EXPECT_EQ(load_le32(e + 12), 46 + name.size() + 9);
  EXPECT_EQ(load_le32(e + 16), static_cast<uint32_t>(c - zip.data()));
}

TEST_F(ZipArchiveTest, StoredOnlyExtensionsAreStoredWithFlagsZero) {
  EXPECT_TRUE(has_stored_only_extension("CRASH.ZIP"));
  EXPECT_TRUE(has_stored_only_extension("a.tgz"));
  EXPECT_TRUE(has_stored_only_extension("a.Z"));
  EXPECT_FALSE(has_stored_only_extension("report.zip.txt"));
  EXPECT_FALSE(has_stored_only_extension("CRASHLOG"));
  EXPECT_FALSE(has_stored_only_extension("a.zipx"));

  const std::string source = make_file("inner.bin", "already packed");
  auto handle = OpenArchive(path("stored.zip"));
  ASSERT_EQ(AddArchiveEntry(handle.get(), "OLD.ZIP", source), AR_OK);
  ASSERT_EQ(CloseArchive(std::move(handle)), AR_OK);
  const auto zip = read_file(path("stored.zip"));
  EXPECT_EQ(load_le16(zip.data() + 6), 0);  // flags
  EXPECT_EQ(load_le16(zip.data() + 8), 0);  // method: store
  EXPECT_EQ(load_le32(zip.data() + 18), 14u);
  EXPECT_EQ(std::string(zip.begin() + 30 + 7 + 17, zip.begin() + 30 + 7 + 17 + 14), "already packed");
}

TEST_F(ZipArchiveTest, EmptySourceIsADeflatedEntryWithCrcZero) {
  const std::string source = make_file("CRASHLOG.DAT", "");
  auto handle = OpenArchive(path("empty_entry.zip"));
  ASSERT_EQ(AddArchiveEntry(handle.get(), "CRASHLOG.DAT", source), AR_OK);
  ASSERT_EQ(CloseArchive(std::move(handle)), AR_OK);
  const auto zip = read_file(path("empty_entry.zip"));
  EXPECT_EQ(load_le16(zip.data() + 8), 8);
  EXPECT_EQ(load_le32(zip.data() + 14), 0u);
  EXPECT_EQ(load_le32(zip.data() + 18), 2u);  // one empty fixed block
  EXPECT_EQ(load_le32(zip.data() + 22), 0u);
}

TEST_F(ZipArchiveTest, BadArgumentsAndMissingSourcesLeaveNoTrace) {
  const std::string source = make_file("x.txt", "x");
  auto handle = OpenArchive(path("args.zip"));
  EXPECT_EQ(AddArchiveEntry(handle.get(), "CRASHLOG.DAT", path("missing")), AR_CANNOT_OPEN);
  EXPECT_EQ(AddArchiveEntry(handle.get(), "", source), AR_BAD_ARGUMENT);
  EXPECT_EQ(AddArchiveEntry(handle.get(), std::string(260, 'n'), source), AR_BAD_ARGUMENT);
  EXPECT_EQ(AddArchiveEntry(handle.get(), std::string(259, 'n'), source), AR_OK);
  EXPECT_EQ(AddArchiveEntry(nullptr, "x.txt", source), AR_BAD_ARGUMENT);
  handle->mode = 1;
  EXPECT_EQ(AddArchiveEntry(handle.get(), "x.txt", source), AR_WRONG_MODE);
  handle->mode = ArchiveHandle::kCreating;
  EXPECT_EQ(CloseArchive(std::move(handle)), AR_OK);
  EXPECT_EQ(CloseArchive(nullptr), AR_BAD_ARGUMENT);
  EXPECT_FALSE(OpenArchive(path("no/such/dir/a.zip")));

  const auto zip = read_file(path("args.zip"));
  EXPECT_EQ(load_le16(zip.data() + zip.size() - 12), 1);  // only the 259-character entry
}

TEST_F(ZipArchiveTest, AWriteFailureIsRecordedAndLaterAddsRefused) {
  const std::string source = make_file("big.txt", std::string(5000, 'q'));
  ZipArchive archive(std::make_unique<Failing_Output>(40));
  EXPECT_EQ(archive.add_file("big.txt", source), AR_WRITE_FAILED);
  EXPECT_EQ(archive.add_file("big.txt", source), AR_ALREADY_FAILED);
  EXPECT_EQ(archive.close(), AR_WRITE_FAILED);
  EXPECT_EQ(archive.close(), AR_ALREADY_CLOSED);
  EXPECT_EQ(archive.add_file("big.txt", source), AR_ALREADY_FAILED);

  ZipArchive closed(std::make_unique<Failing_Output>(1000));
  EXPECT_EQ(closed.close(), AR_OK);
  EXPECT_EQ(closed.add_file("big.txt", source), AR_ALREADY_CLOSED);
}

}  // namespace
}  // namespace Zip
