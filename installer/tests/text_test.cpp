#include "installer/text.h"

#include <thread>

#include <gtest/gtest.h>

namespace {
using Bytes = std::vector<uint8_t>;

TEST(TextTest, AsciiValuesCountUserPerceivedCharacters) {
  EXPECT_EQ(quillo::asciiValues("a\r\nb"), (Bytes{97, 10, 98}));
  EXPECT_EQ(quillo::asciiValues("a" "e\xCC\x81"), (Bytes{97})) << "e + combining acute is not ASCII";
  EXPECT_EQ(quillo::asciiValues("\xE4\xBD\xA0" "x"), (Bytes{120}));
  EXPECT_EQ(quillo::asciiValues(""), Bytes{});
  EXPECT_EQ(quillo::asciiValues("\r\r\n"), (Bytes{13, 10}));
  EXPECT_EQ(quillo::asciiValues("\x7F" "\xC2\x80"), (Bytes{127})) << "U+0080 is past ASCII";
}

TEST(TextTest, Utf8BytesAreValidatedAndNullIsAbsent) {
  EXPECT_EQ(quillo::fromUtf8Bytes(nullptr, 3), std::nullopt);
  EXPECT_EQ(quillo::fromUtf8Bytes("h\xC3\xA9", 3), "h\xC3\xA9");
  EXPECT_EQ(quillo::fromUtf8Bytes("\xC3", 1), std::nullopt) << "cut sequence";
  EXPECT_EQ(quillo::fromUtf8Bytes("\xFF", 1), std::nullopt);
  EXPECT_EQ(quillo::fromUtf8Bytes("abc", 2), "ab");
  EXPECT_EQ(quillo::fromUtf8Bytes("a\xFF", 1), "a") << "a bad byte past the length is not read";
  EXPECT_EQ(quillo::fromUtf8Bytes("a\0b", 3), std::string("a\0b", 3)) << "NUL is valid UTF-8";
  EXPECT_EQ(quillo::cStrLen(nullptr), 0u);
  EXPECT_EQ(quillo::cStrLen("four"), 4u);
}

TEST(TextTest, SingleByteCharacters) {
  EXPECT_EQ(quillo::fromCUnsignedChar(0x41), "A");
  EXPECT_EQ(quillo::fromCUnsignedChar(0x7F), "\x7F");
  EXPECT_EQ(quillo::fromCUnsignedChar(0x80), "\xC2\x80");
  EXPECT_EQ(quillo::fromCUnsignedChar(0xE9), "\xC3\xA9");
  EXPECT_EQ(quillo::fromCUnsignedChar(0xFF), "\xC3\xBF");
  EXPECT_EQ(quillo::fromCChar(0x7A), "z");
  EXPECT_EQ(quillo::fromCChar(-1), "");
  EXPECT_EQ(quillo::fromCChar(0), std::string(1, '\0'));
}

TEST(TextTest, TimeHelpers) {
  // 2024-01-01 is 725,846,400 s after 2001-01-01.
  EXPECT_GT(quillo::genCurrentTimeInMs(), 725'846'400'000ull);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(quillo::costTimeInMSString(start, start + std::chrono::microseconds(1500)), "1.50ms");
  EXPECT_GE(quillo::costTimeInMS(start), 0.0);
}

}  // namespace
