#include "ipc/call_record.h"

#include <gtest/gtest.h>

#include "base/byte_order.h"

namespace Core_IPC {
namespace {

using Core_Common::load_le32;
using Core_Common::store_le32;

TEST(CallRecord, WithoutArgumentsIsTwentyEightBytesWithCountZero) {
  const auto record = build_call_record(7, 987, 0, {});
  ASSERT_EQ(record.size(), 28u);
  EXPECT_EQ(load_le32(record.data()), 28u);
  EXPECT_EQ(load_le32(record.data() + 4), 7u);
  EXPECT_EQ(load_le32(record.data() + 8), 987u);
  EXPECT_EQ(load_le32(record.data() + 16), 0u);
  EXPECT_EQ(load_le32(record.data() + 20), 0u);
  EXPECT_EQ(load_le32(record.data() + 24), 0u);
  const auto read = read_call_record(record.data(), record.size());
  ASSERT_TRUE(read);
  EXPECT_TRUE(read->arguments.empty());
}

TEST(CallRecord, TwoArgumentsFollowTheirTable) {
  const Argument_List args = {argument_u32(0x11223344), argument_u64(0x0102030405060708ull)};
  const auto record = build_call_record(2, 654, 9, args);
  ASSERT_EQ(record.size(), 48u);
  EXPECT_EQ(load_le32(record.data() + 20), 36u);
  EXPECT_EQ(load_le32(record.data() + 24), 4u);
  EXPECT_EQ(load_le32(record.data() + 28), 40u);
  EXPECT_EQ(load_le32(record.data() + 32), 8u);
  EXPECT_EQ(record[36], 0x44);
  EXPECT_EQ(record[40], 0x08);

  const auto read = read_call_record(record.data(), record.size());
  ASSERT_TRUE(read);
  EXPECT_EQ(read->method_id, 2u);
  EXPECT_EQ(read->interface_id, 654u);
  EXPECT_EQ(read->status, 9u);
  EXPECT_EQ(read->arguments, args);
  EXPECT_EQ(argument_as_u32(read->arguments[0]), 0x11223344u);
  EXPECT_FALSE(argument_as_u32(read->arguments[1]));

  // One argument still gets the 28-byte minimum header.
  EXPECT_EQ(build_call_record(0, 0, 0, {argument_text("ab", 2)}).size(), 30u);
}

TEST(CallRecord, MalformedRecordsAreRefused) {
  const auto good = build_call_record(1, 2, 3, {argument_u32(5), argument_text("xyz", 3)});
  auto with = [&](size_t offset, uint32_t value, size_t received) {
    auto bytes = good;
    store_le32(bytes.data() + offset, value);
    return read_call_record(bytes.data(), received).has_value() ||
           call_record_interface(bytes.data(), received).has_value();
  };
  EXPECT_TRUE(with(4, 1, good.size()));
  EXPECT_FALSE(with(0, 27, good.size()));                // size smaller than the header
  EXPECT_FALSE(with(0, good.size() + 1, good.size()));   // larger than received
  EXPECT_FALSE(with(16, 3, good.size()));                // count whose table does not fit
  EXPECT_FALSE(with(16, 0xFFFFFFFFu, good.size()));      // must not wrap
  EXPECT_FALSE(with(20, 1000, good.size()));             // offset outside
  EXPECT_FALSE(with(24, 0xFFFFFFFFu, good.size()));      // length outside, wraps in 32 bits
  EXPECT_FALSE(with(28, good.size() - 2, good.size()));  // runs past the end
  EXPECT_FALSE(read_call_record(good.data(), 27));
  EXPECT_FALSE(read_call_record(nullptr, 0));
  EXPECT_EQ(call_record_interface(good.data(), good.size()), 2u);
}

}  // namespace
}  // namespace Core_IPC
