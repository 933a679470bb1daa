// The POSIX side of the extractor's seam: stored names in code page 437 become UTF-8 and back,
// the conversion never cuts a character in half, and names flagged UTF-8 are taken only when
// they are well-formed (the decoder that SETUP.EXE spells them with on Windows), and the
// archive, read through a buffer of the platform's own, reads and seeks as the file itself does.
#include "unzip/posix/posix_platform.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <unistd.h>

#include <random>
#include <string>

#include "unzip/platform.h"

namespace {

// The C library's own code page 437 table, as a peer.
std::string IconvCp437(const std::string& text) {
  iconv_t converter = iconv_open("UTF-8", "CP437");
  if (converter == reinterpret_cast<iconv_t>(-1)) return "(no converter)";
  std::string in = text, out(text.size() * 4 + 1, '\0');
  char* from = in.data();
  char* to = out.data();
  size_t left = in.size(), room = out.size();
  iconv(converter, &from, &left, &to, &room);
  iconv_close(converter);
  out.resize(out.size() - room);
  return out;
}

TEST(PosixPlatform, CodePage437MatchesTheCLibrary) {
  for (int c = 0x20; c < 0x100; ++c) {
    std::string one(1, static_cast<char>(c));
    char converted[8];
    Cp437ToUtf8(one.c_str(), converted, sizeof converted);
    EXPECT_EQ(converted, IconvCp437(one)) << std::hex << c;
  }
}

TEST(PosixPlatform, ConversionStopsBeforeACharacterThatDoesNotFit) {
  char converted[5];
  Cp437ToUtf8("a\x82\xb0", converted, sizeof converted);  // a, é (2 bytes), ░ (3 bytes)
  EXPECT_STREQ(converted, "aé");
  Cp437ToUtf8("abcdef", converted, sizeof converted);
  EXPECT_STREQ(converted, "abcd");
}

TEST(PosixPlatform, EveryCharacterComesBackFromUtf8) {
  for (int c = 0x20; c < 0x100; ++c) {
    std::string one(1, static_cast<char>(c));
    char back[4];
    ASSERT_TRUE(Utf8ToCp437(IconvCp437(one).c_str(), back, sizeof back)) << std::hex << c;
    EXPECT_EQ(back, one) << std::hex << c;
  }
}

TEST(PosixPlatform, Utf8ThatCodePage437CannotHoldIsRefused) {
  struct Case {
    const char* text;
    size_t capacity;
    bool converts;
  } cases[] = {
      {"KESTRA.HLP", 11, true},
      {"KESTRA.HLP", 10, false},        // the NUL needs its byte
      {"caf\xc3\xa9.txt", 9, true},     // é is 0x82
      {"\xe2\x82\xac.txt", 16, false},  // the euro sign is not there
      {"\xf0\x9f\x90\xa6", 16, false},  // nor anything beyond 16 bits
      {"bad\xc3", 16, false},
      {"\xc0\xaf", 16, false},  // cut short; overlong slash
      {"", 1, true},
      {"", 0, false},
  };
  for (const Case& c : cases) {
    char out[16] = "untouched";
    EXPECT_EQ(Utf8ToCp437(c.text, out, static_cast<uint32_t>(c.capacity)), c.converts) << c.text;
  }
  char out[16];
  ASSERT_TRUE(Utf8ToCp437("caf\xc3\xa9", out, sizeof out));
  EXPECT_STREQ(out, "caf\x82");
}

TEST(PosixPlatform, NamesFlaggedUtf8AreTakenOnlyWhenWellFormed) {
  struct Case {
    const char* stored;
    bool taken;
  } cases[] = {
      {"plain.txt", true},
      {"\xd0\xbf\xd1\x80\xd0\xb8.txt", true},  // two-byte characters
      {"\xe6\x97\xa5.txt", true},              // three bytes
      {"\xf0\x9f\x98\x80.txt", true},          // four bytes, beyond 16 bits
      {"\xf4\x8f\xbf\xbf", true},              // U+10FFFF, the last
      {"\xf4\x90\x80\x80", false},             // beyond it
      {"\xed\xa0\x80.txt", false},             // a surrogate
      {"\xc0\xaf", false},                     // overlong slash
      {"\xe0\x80\xaf", false},                 // overlong in three bytes
      {"\xf0\x80\x80\xaf", false},             // and in four
      {"\xe2\x82", false},                     // cut short
      {"\x82.txt", false},                     // a continuation byte first
      {"caf\xe9.txt", false},                  // Latin-1, not UTF-8
  };
  for (const Case& c : cases) {
    char written[64];
    EXPECT_EQ(StoredNameToFileName(c.stored, true, written, sizeof written), c.taken) << c.stored;
    if (c.taken) {
      EXPECT_STREQ(written, c.stored);
    }
  }
  // Unflagged, the same bytes are code page 437.
  char written[64];
  EXPECT_TRUE(StoredNameToFileName("caf\xe9.txt", false, written, sizeof written));
  EXPECT_STREQ(written, "caf\xce\x98.txt");
}

// Random reads (small and larger than the buffer) and seeks (back, forward, from the start,
// past the end) on the archive, against the same calls on the file's bytes themselves.
TEST(PosixPlatform, TheArchiveReadsAndSeeksAsTheFileDoes) {
  std::mt19937 random(7);
  std::string bytes(50000, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  char path[] = "/tmp/ks-archive-reader-XXXXXX";
  int file = mkstemp(path);
  ASSERT_GE(file, 0);
  ASSERT_EQ(write(file, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(file);
  PlatformFile archive = OpenArchiveFile(path);
  ASSERT_NE(archive, kNoFile);
  long position = 0;
  for (int step = 0; step < 4000; ++step) {
    SCOPED_TRACE(step);
    switch (random() % 4) {
      case 0: {
        uint32_t count = random() % 3 ? random() % 64 : random() % 20000;
        std::string got(count, '\0');
        long expected = std::max(0L, std::min<long>(count, long(bytes.size()) - position));
        ASSERT_EQ(ReadPlatformFile(archive, got.data(), count), expected);
        if (expected) {
          ASSERT_EQ(got.substr(0, expected), bytes.substr(position, expected));
        }
        position += expected;
        break;
      }
      case 1: {
        int32_t offset = static_cast<int32_t>(random() % 20000) - 10000;
        bool moves = position + offset >= 0;
        ASSERT_EQ(SeekPlatformFile(archive, offset, false), moves);
        if (moves) position += offset;
        break;
      }
      case 2:
        position = random() % (bytes.size() + 100);
        ASSERT_TRUE(SeekPlatformFile(archive, static_cast<int32_t>(position), true));
        break;
      default:
        ASSERT_EQ(TellPlatformFile(archive), position);
    }
  }
  ASSERT_EQ(SeekPlatformFileToEnd(archive), static_cast<int32_t>(bytes.size()));
  ClosePlatformFile(archive);
  unlink(path);
}

}  // namespace
