#include "dns/byte_reader.h"

#include <gtest/gtest.h>

#include <array>

namespace zarvik {

namespace {

constexpr std::array<std::uint8_t, 7> kBytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};

TEST(ByteReader, ReadsBigEndianAndAdvances) {
  ByteReader reader(kBytes);
  std::uint8_t b = 0;
  std::uint16_t w = 0;
  std::uint32_t d = 0;
  ASSERT_TRUE(reader.readU8(b) && reader.readU16(w) && reader.readU32(d));
  EXPECT_EQ(b, 0x01);
  EXPECT_EQ(w, 0x0203);
  EXPECT_EQ(d, 0x04050607u);
  EXPECT_TRUE(reader.atEnd());
}

TEST(ByteReader, FailedReadsDoNotMove) {
  ByteReader reader(kBytes);
  ASSERT_TRUE(reader.skip(5));
  std::uint32_t d = 0xDEADBEEF;
  std::span<const std::uint8_t> view;
  EXPECT_FALSE(reader.readU32(d));
  EXPECT_EQ(d, 0xDEADBEEFu);
  EXPECT_FALSE(reader.readBytes(3, view));
  EXPECT_FALSE(reader.skip(3));
  EXPECT_EQ(reader.position(), 5u);
  std::uint16_t w = 0;
  EXPECT_TRUE(reader.readU16(w));
  std::uint8_t b = 0;
  EXPECT_FALSE(reader.readU8(b));
  EXPECT_EQ(reader.position(), 7u);
}

TEST(ByteReader, SeekAllowsTheEndButNotBeyond) {
  ByteReader reader(kBytes);
  EXPECT_TRUE(reader.seek(7));
  EXPECT_TRUE(reader.atEnd());
  EXPECT_FALSE(reader.seek(8));
  EXPECT_EQ(reader.position(), 7u);
  ASSERT_TRUE(reader.seek(2));
  std::span<const std::uint8_t> view;
  ASSERT_TRUE(reader.readBytes(3, view));
  EXPECT_EQ(view.size(), 3u);
  EXPECT_EQ(view[0], 0x03);
  EXPECT_EQ(reader.remaining(), 2u);
}

TEST(ByteReader, EmptyInputFailsEveryRead) {
  ByteReader reader;
  std::uint8_t b = 0;
  std::span<const std::uint8_t> view;
  EXPECT_FALSE(reader.readU8(b));
  EXPECT_TRUE(reader.readBytes(0, view));
  EXPECT_TRUE(reader.atEnd());
}

}  // namespace

}  // namespace zarvik
