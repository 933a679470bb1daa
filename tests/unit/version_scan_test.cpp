// The scan for the fixed version record in a library image, on crafted images and on the stub
// library that SETUP.EXE carries.
#include "shellext/version_scan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A fixed version record with file version `fileMs`.`fileLs` and product version likewise;
// the rest of it is filled with bytes that make it recognisable.
Bytes Record(uint32_t fileMs, uint32_t fileLs, uint32_t productMs = 0x00040001,
             uint32_t productLs = 0) {
  Bytes record(kFixedInfoBytes);
  for (size_t i = 24; i < record.size(); ++i) record[i] = static_cast<uint8_t>(0xA0 + i);
  Put32(record, 0, kFixedInfoSignature);
  Put32(record, 4, 0x00010000);
  Put32(record, 8, fileMs);
  Put32(record, 12, fileLs);
  Put32(record, 16, productMs);
  Put32(record, 20, productLs);
  return record;
}

// An image of `size` filler bytes with `record` copied in at `at`.
Bytes Image(size_t size, const Bytes& record = {}, size_t at = 0) {
  Bytes image(size, 0x5A);
  std::copy(record.begin(), record.end(), image.begin() + at);
  return image;
}

// The record the scan accepts, if any.
std::optional<Bytes> Scan(const Bytes& image, int16_t maxPart = 20) {
  Bytes record(kFixedInfoBytes, 0xEE);
  if (!FindFixedFileInfo(image.data(), static_cast<uint32_t>(image.size()), maxPart, record.data()))
    return std::nullopt;
  return record;
}

const Bytes kVersion41 = Record(0x00040001, 0x00000000);
const Bytes kVersion20 = Record(0x00140014, 0x00140014, 0x00140014, 0x00140014);

TEST(FindFixedFileInfo, FindsTheRecordWhereverItLiesInTheImage) {
  struct Case {
    const char* what;
    size_t imageSize;
    size_t at;
    bool found;
  } cases[] = {
      {"image of exactly one record", 52, 0, true},
      {"at an odd offset", 200, 13, true},
      {"ending at the image's last byte", 100, 48, true},
      {"ending at the last byte, odd size", 101, 49, true},
      {"at the very start of a long image", 4096, 0, true},
  };
  for (const Case& c : cases) {
    std::optional<Bytes> record = Scan(Image(c.imageSize, kVersion41, c.at));
    ASSERT_EQ(record.has_value(), c.found) << c.what;
    EXPECT_EQ(*record, kVersion41) << c.what << ": the 52 bytes are copied unchanged";
  }
}

TEST(FindFixedFileInfo, NeedsAllFiftyTwoBytesInsideTheImage) {
  EXPECT_FALSE(Scan({}));
  EXPECT_FALSE(Scan(Image(51, Bytes(kVersion41.begin(), kVersion41.begin() + 51))));
  // The last 51 bytes of a 100-byte image: the record would end one byte beyond it.
  Bytes cut = Image(100);
  std::copy(kVersion41.begin(), kVersion41.begin() + 51, cut.begin() + 49);
  EXPECT_FALSE(Scan(cut));
}

TEST(FindFixedFileInfo, RejectsAPartAboveTheBoundInAnyOfTheEightPlaces) {
  EXPECT_EQ(Scan(Image(64, kVersion20, 4)), kVersion20) << "20 is still plausible";
  for (size_t part = 0; part < 8; ++part) {
    Bytes implausible = kVersion20;
    implausible[8 + 2 * part] = 21;
    EXPECT_FALSE(Scan(Image(64, implausible, 4))) << "part " << part;
    EXPECT_TRUE(Scan(Image(64, implausible, 4), 21)) << "part " << part << " with bound 21";
  }
  Bytes highHalf = kVersion20;
  highHalf[9] = 0x01;  // part 0 = 0x0114
  EXPECT_FALSE(Scan(Image(64, highHalf, 4)));
}

TEST(FindFixedFileInfo, GoesOnAtTheNextByteAfterARejectedCandidate) {
  // The plausible record starts inside the rejected one, so a scan that skipped a whole record
  // after a rejection would miss it.
  Bytes implausible = Record(0x00150000, 0);
  Bytes image = Image(160, implausible, 10);
  std::copy(kVersion41.begin(), kVersion41.end(), image.begin() + 10 + 24);
  EXPECT_EQ(Scan(image), kVersion41);
}

TEST(FindFixedFileInfo, TakesOnlyTheWholeSignatureAndTheFirstPlausibleRecord) {
  Bytes image = Image(300, kVersion41, 150);
  // Near misses of the signature before it, each followed by plausible version parts.
  for (size_t at : {0, 60}) {
    Bytes nearMiss = Record(0x00010001, 0);
    nearMiss[at == 0 ? 3 : 1] ^= 0x01;
    std::copy(nearMiss.begin(), nearMiss.end(), image.begin() + at);
  }
  Bytes later = Record(0x00050006, 0x00070008);
  std::copy(later.begin(), later.end(), image.begin() + 220);
  EXPECT_EQ(Scan(image), kVersion41);
}

TEST(FileVersion, ComesFromTheRecordAndComparesOnlyFileVersions) {
  FileVersion version = FileVersionOfRecord(Record(0x00040001, 0x00020003).data());
  EXPECT_EQ(version.ms, 0x00040001u);
  EXPECT_EQ(version.ls, 0x00020003u);

  struct Case {
    FileVersion a, b;
    bool same;
  } cases[] = {
      {{0x00040001, 0}, {0x00040001, 0}, true},  {{0x00040001, 0}, {0x00040002, 0}, false},
      {{0x00040001, 0}, {0x00040001, 1}, false}, {{0x00040001, 0}, {0x00030009, 0}, false},
      {{0, 0x00040001}, {0x00040001, 0}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SameVersion(c.a, c.b), c.same) << std::hex << c.a.ms << "." << c.a.ls;
    EXPECT_EQ(SameVersion(c.b, c.a), c.same);
  }
  // The product version does not take part.
  FileVersion left = FileVersionOfRecord(Record(0x00040001, 0, 0x00010000, 0).data());
  FileVersion right = FileVersionOfRecord(Record(0x00040001, 0, 0x00090000, 5).data());
  EXPECT_TRUE(SameVersion(left, right));
}

TEST(FindFixedFileInfo, RecognisesTheCarriedStubLibraryAsVersion4100) {
  const std::string path = std::string(KS_PRODUCT_TREE) + "/src/stublib/KSSHLSTB.DLL";
  std::ifstream file(path, std::ios::binary);
  ASSERT_TRUE(file) << path;
  Bytes image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::optional<Bytes> record = Scan(image);
  ASSERT_TRUE(record);
  FileVersion version = FileVersionOfRecord(record->data());
  EXPECT_EQ(version.ms, 0x00040001u);
  EXPECT_EQ(version.ls, 0x00000000u);
}

}  // namespace
