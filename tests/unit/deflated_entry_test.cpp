// Deflated and stored entries through the whole job: plain and encrypted, into files and
// test-only, with the fast paths (the decoder's loop, the stored copy, decryption as the decoder
// reaches the bytes, the CRC in lanes) checked against the straightforward ones, and damaged
// entries that must still end their job.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "support/sample_data.h"
#include "unit/engine_harness.h"
#include "unzip/builtin_password.h"
#include "unzip/crc32.h"
#include "unzip/data_path.h"
#include "unzip/decrypt.h"
#include "unzip/inflate.h"

namespace engine_test {
namespace {

using sample_data::Kind;

std::string Sample(Kind kind, size_t size, uint32_t seed) {
  std::vector<uint8_t> data = sample_data::Make(kind, size, seed);
  return {data.begin(), data.end()};
}

ZipEntry Entry(const std::string& name, const std::string& data, uint16_t method, bool encrypted) {
  ZipEntry entry = Stored(name, data);
  entry.method = method;
  if (encrypted) entry.password = std::string(kBuiltInPassword);
  return entry;
}

// Sizes one below, at and one above the data path's block, the window and the progress unit;
// at and one above the eight blocks that ksdist copies a stored entry in at a time.
constexpr size_t kSizes[] = {0,     1,     10239, 10240, 10241,  28671,  28672, 28673,
                             32767, 32768, 32769, 65536, 150000, 229376, 229377};

// Chooses the decoder's and the data path's fast or straightforward paths for a scope.
struct FastPathScope {
  explicit FastPathScope(bool fast) { inflateFastPath = dataPathFastPath = fast; }
  ~FastPathScope() { inflateFastPath = dataPathFastPath = true; }
};

bool SameKeys(const DecryptionKeys& a, const DecryptionKeys& b) {
  return a.key0 == b.key0 && a.key1 == b.key1 && a.key2 == b.key2;
}

class DeflatedEntryTest : public EngineTest {
 protected:
  // Every sample kind at every size, as `method`, encrypted or not.
  std::vector<ZipEntry> Corpus(uint16_t method, bool encrypted) {
    std::vector<ZipEntry> entries;
    uint32_t seed = 1;
    for (Kind kind : {Kind::kText, Kind::kBinary, Kind::kRandom, Kind::kRun}) {
      for (size_t size : kSizes) {
        entries.push_back(Entry(std::string(sample_data::KindName(kind)) + std::to_string(size),
                                Sample(kind, size, seed++), method, encrypted));
      }
    }
    return entries;
  }
};

TEST_F(DeflatedEntryTest, EntriesComeOutByteIdenticalWithBothPaths) {
  for (uint16_t method : {8, 0}) {
    for (bool encrypted : {false, true}) {
      std::vector<ZipEntry> entries = Corpus(method, encrypted);
      std::string archive = MakeZip(entries);
      std::vector<std::string> firstEvents;
      DecryptionKeys firstKeys{};
      for (bool fast : {false, true}) {
        SCOPED_TRACE(testing::Message()
                     << "method " << method << " encrypted " << encrypted << " fast " << fast);
        FastPathScope scope(fast);
        observer_.events.clear();
        decryptionKeys = {};
        ASSERT_EQ(Extract(archive, {.reportCrc = true}), 0) << observer_.errors[0];
        EXPECT_TRUE(observer_.errors.empty());
        for (const ZipEntry& entry : entries) {
          ASSERT_EQ(ReadBytes(OutFile(entry.name)), entry.data) << entry.name;
        }
        // The same progress messages at the same points, whichever paths run, and the keys
        // left as the last entry's whole data left them.
        if (!fast) firstEvents = observer_.events;
        if (!fast) firstKeys = decryptionKeys;
        EXPECT_EQ(observer_.events, firstEvents);
        EXPECT_TRUE(SameKeys(decryptionKeys, firstKeys));
        fs::remove_all(Out());
        fs::create_directory(Out());
      }
    }
  }
}

// Bytes after the end of an encrypted entry's Deflate stream, within its data: the decoder never
// reaches them, yet the keys end as if they had been decrypted with the block, on both paths. A
// few bytes are padding and the next entry follows; more make the entry damaged.
TEST_F(DeflatedEntryTest, EncryptedBytesBeyondTheStreamEndTheSameWay) {
  std::string data = Sample(Kind::kText, 40000, 21);
  for (uint32_t trailing : {4u, 3000u}) {
    ZipEntry padded = Entry("padded.txt", data, 8, true);
    padded.claimedCompressedSize = 12 + uint32_t(RawDeflate(data).size()) + trailing;
    auto archive = [&](bool withNext) {
      ZipWriter writer;
      writer.Add(padded);
      writer.AddBytes(std::string(trailing, '\x5a'));
      if (withNext) writer.Add(Entry("next.bin", Sample(Kind::kBinary, 9000, 22), 8, true));
      return writer.Finish();
    };
    int32_t expected = trailing > 4 ? kAbortError : 0;
    std::vector<std::string> firstEvents;
    DecryptionKeys firstKeys{};
    for (bool fast : {false, true}) {
      SCOPED_TRACE(testing::Message() << "fast " << fast << " trailing " << trailing);
      FastPathScope scope(fast);
      observer_.events.clear();
      ASSERT_EQ(Extract(archive(true), {.testOnly = true, .reportCrc = true}), expected);
      if (!fast) firstEvents = observer_.events;
      EXPECT_EQ(observer_.events, firstEvents);
      if (expected == 0)
        EXPECT_EQ(Announced(), (std::vector<std::string>{"padded.txt", "next.bin"}));
      else
        EXPECT_NE(observer_.refusals.back().find("left over after the end"), std::string::npos);
      // The next entry starts the keys afresh: the padded one alone shows where they end.
      ASSERT_EQ(Extract(archive(false), {.testOnly = true, .reportCrc = true}), expected);
      if (!fast) firstKeys = decryptionKeys;
      EXPECT_TRUE(SameKeys(decryptionKeys, firstKeys));
    }
  }
}

TEST_F(DeflatedEntryTest, TestOnlyJobChecksEveryCrcAndWritesNothing) {
  std::vector<ZipEntry> entries = Corpus(8, true);
  ASSERT_EQ(Extract(MakeZip(entries), {.testOnly = true, .reportCrc = true}), 0);
  EXPECT_TRUE(ListFiles(Out()).empty());
  EXPECT_EQ(Announced().size(), entries.size());
  // A corrupted byte in a deflated entry's data shows in its CRC.
  entries.resize(1);
  entries[0] = Entry("bad.txt", Sample(Kind::kText, 50000, 3), 8, false);
  std::string archive = MakeZip(entries);
  archive[30 + 7 + 2000] ^= 0x10;
  EXPECT_EQ(Extract(archive, {.testOnly = true, .reportCrc = true}), kAbortError);
  ASSERT_EQ(observer_.errors.size(), 1u);
  EXPECT_EQ(observer_.errors[0].rfind("ZIP damaged: file bad.txt: Bad CRC", 0), 0u);
}

// An entry cut short at every byte, its header claiming the shorter size: every job ends,
// the output never grows past the whole entry, and the damage shows in the CRC.
TEST_F(DeflatedEntryTest, EveryTruncatedEntryEndsItsJob) {
  for (bool encrypted : {false, true}) {
    std::string data = Sample(Kind::kText, 8000, 9);
    ZipEntry entry = Entry("cut.txt", data, 8, encrypted);
    uint32_t header = encrypted ? 12 : 0;
    uint32_t full = header + uint32_t(RawDeflate(data).size());
    for (uint32_t claimed = header; claimed < full; claimed++) {
      entry.claimedCompressedSize = claimed;
      int32_t result = Extract(MakeZip({entry}), {.reportCrc = true});
      std::string out = ReadBytes(OutFile("cut.txt"));
      ASSERT_LE(out.size(), data.size()) << "claimed " << claimed;
      // Only the last byte or so missing: the repeated last byte may still end the stream well.
      if (out == data && result == 0) continue;
      ASSERT_EQ(result, kAbortError) << "claimed " << claimed;
      ASSERT_EQ(observer_.errors.back().rfind("ZIP damaged: file ", 0), 0u)
          << "claimed " << claimed << " encrypted " << encrypted << ": " << observer_.errors.back();
    }
  }
}

// A deflated entry that is damaged, ends early, leaves data over or is not of its declared size
// is an error even when the request lets CRC mismatches pass: the message names the CRC of what
// came out, the caller hears why, and the file is removed. The next entry is never reached.
TEST_F(DeflatedEntryTest, DamagedDeflatedEntriesFailInEveryRequest) {
  std::string data = Sample(Kind::kText, 100000, 31);
  uint32_t deflatedSize = uint32_t(RawDeflate(data).size());
  auto deflated = [&] { return Entry("bad.txt", data, 8, false); };
  ZipEntry longer = deflated(), shorter = deflated(), endsEarly = deflated(), leftOver = deflated();
  longer.claimedUncompressedSize = 10;
  shorter.claimedUncompressedSize = uint32_t(data.size()) + 1;
  endsEarly.claimedCompressedSize = deflatedSize - 2;
  leftOver.claimedCompressedSize = deflatedSize + 5;
  std::string damaged = MakeZip({deflated(), Stored("next.txt", "n")});
  damaged[30 + 7 + 3] ^= 0x55;  // inside the first block's code lengths
  struct Case {
    std::string archive;
    const char* reason;
  } cases[] = {
      {damaged, "Deflate data is damaged"},
      {MakeZip({longer, Stored("next.txt", "n")}), "does not have the size"},
      {MakeZip({shorter, Stored("next.txt", "n")}), "does not have the size"},
      {MakeZip({endsEarly, Stored("next.txt", "n")}), "ends before the stream does"},
      {[&] {
         ZipWriter writer;
         writer.Add(leftOver);
         writer.AddBytes("12345");
         writer.Add(Stored("next.txt", "n"));
         return writer.Finish();
       }(),
       "left over after the end"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> plainErrors;
    for (bool fast : {false, true}) {
      FastPathScope scope(fast);
      fs::remove_all(Out());
      fs::create_directory(Out());
      observer_.errors.clear();
      observer_.refusals.clear();
      EXPECT_EQ(Extract(c.archive), kAbortError) << c.reason;
      ASSERT_EQ(observer_.errors.size(), 1u) << c.reason;
      if (!fast) plainErrors = observer_.errors;
      EXPECT_EQ(observer_.errors, plainErrors);  // the same CRC of what came out
      EXPECT_EQ(
          observer_.errors[0].rfind("ZIP damaged: file " + OutFile("bad.txt") + ": Bad CRC ", 0),
          0u)
          << observer_.errors[0];
      ASSERT_EQ(observer_.refusals.size(), 1u) << c.reason;
      EXPECT_NE(observer_.refusals[0].find(c.reason), std::string::npos) << observer_.refusals[0];
      EXPECT_TRUE(ListFiles(Out()).empty()) << c.reason;
    }
  }
}

// An entry damaged anywhere, or declaring a size near the data path's blocks and windows, ends
// the same way on both paths, to the CRC of what came out in the message: ksdist's whole-entry
// buffer gives exactly what the window's output blocks give.
TEST_F(DeflatedEntryTest, DamageAndWrongSizesEndTheSameWayOnBothPaths) {
  std::string data = Sample(Kind::kText, 100000, 41);
  std::vector<std::string> archives;
  for (uint32_t declared : {1u, 28671u, 28672u, 32768u, 57345u, 65536u, 99999u, 100001u}) {
    ZipEntry entry = Entry("sized.txt", data, 8, false);
    entry.claimedUncompressedSize = declared;
    archives.push_back(MakeZip({entry, Entry("next.txt", data, 8, false)}));
  }
  std::string sound =
      MakeZip({Entry("bad.txt", data, 8, false), Entry("next.txt", data, 8, false)});
  for (size_t at = 40; at < sound.size() / 2; at += 997) {
    archives.push_back(sound);
    archives.back()[at] ^= 0x24;
  }
  for (const std::string& archive : archives) {
    std::vector<std::string> plain;
    for (bool fast : {false, true}) {
      FastPathScope scope(fast);
      observer_.events.clear();
      observer_.errors.clear();
      observer_.refusals.clear();
      Extract(archive, {.testOnly = true, .reportCrc = true});
      std::vector<std::string> seen = observer_.events;
      seen.insert(seen.end(), observer_.errors.begin(), observer_.errors.end());
      seen.insert(seen.end(), observer_.refusals.begin(), observer_.refusals.end());
      if (!fast) plain = seen;
      EXPECT_EQ(seen, plain);
    }
  }
}

// A stream that reaches back before its entry's start reads the 32 KB window as the entry
// before it left it (each entry starts at the window's start): the same on both paths, also when
// ksdist's whole-entry buffer has to grow for it.
TEST_F(DeflatedEntryTest, DistancesBeforeTheEntryReadTheWindowAsLeft) {
  std::string first = Sample(Kind::kText, 40000, 51);
  std::string window = first.substr(32768) + first.substr(7232, 32768 - 7232);
  std::string second = window.substr(9000, 20000) + Sample(Kind::kBinary, 300000, 52);
  z_stream z{};
  ASSERT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY), Z_OK);
  deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(window.data()), 32768);
  std::string stream(deflateBound(&z, uLong(second.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(second.data());
  z.avail_in = uInt(second.size());
  z.next_out = reinterpret_cast<Bytef*>(stream.data());
  z.avail_out = uInt(stream.size());
  ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  stream.resize(z.total_out);
  deflateEnd(&z);
  ZipEntry reaching = Entry("second.bin", second, 8, false);
  reaching.stream = stream;
  std::string archive = MakeZip({Entry("first.txt", first, 8, false), reaching});
  for (bool fast : {false, true}) {
    FastPathScope scope(fast);
    ASSERT_EQ(Extract(archive, {.reportCrc = true}), 0) << fast;
    EXPECT_EQ(ReadBytes(OutFile("second.bin")), second) << fast;
  }
}

// The archive file itself cut at every byte: a short read ends the job, or the walk reports the
// missing records; nothing runs on.
TEST_F(DeflatedEntryTest, EveryTruncatedArchiveEndsItsJob) {
  std::string archive = MakeZip({Entry("a.bin", Sample(Kind::kBinary, 5000, 4), 8, true),
                                 Entry("b.txt", Sample(Kind::kText, 5000, 5), 8, false)});
  for (size_t size = 0; size < archive.size(); size++) {
    ASSERT_EQ(Extract(archive.substr(0, size), {.testOnly = true}), kAbortError) << size;
  }
}

// The CRC in lanes, and the carry-less ones (128 and 512 bits wide) where the processor has
// them, against one table step per byte, over every length up to several rounds of each, at
// every alignment, and over whole blocks.
TEST(Crc32Test, LanesAndCarrylessAgreeWithBytewise) {
  std::vector<uint8_t> data = sample_data::Make(Kind::kRandom, 70000, 11);
  EXPECT_EQ(~Crc32Update(0xFFFFFFFF, reinterpret_cast<const uint8_t*>("123456789"), 9),
            0xCBF43926u);
  for (auto update : {Crc32Update, Crc32UpdateLanes}) {
    for (size_t start = 0; start < 17; start++) {
      for (size_t length = 0; length < 1100; length++) {
        ASSERT_EQ(update(0x12345678, data.data() + start, uint32_t(length)),
                  Crc32UpdateBytewise(0x12345678, data.data() + start, uint32_t(length)))
            << start << " " << length;
      }
    }
    for (uint32_t length : {28671u, 28672u, 28673u, 65536u}) {
      ASSERT_EQ(update(0xFFFFFFFF, data.data() + 3, length),
                Crc32UpdateBytewise(0xFFFFFFFF, data.data() + 3, length));
    }
    EXPECT_EQ(~update(0xFFFFFFFF, data.data(), uint32_t(data.size())),
              uint32_t(crc32(0, data.data(), uInt(data.size()))));
  }
#if defined(__x86_64__)
  EXPECT_EQ(crc32Carryless, __builtin_cpu_supports("pclmul") != 0);
#endif
}

// Decrypting a buffer at once, or in pieces of any size one after the other (as a block is
// decrypted while the decoder reaches it), against DecryptByte and UpdateKeys byte by byte.
TEST(DecryptBufferTest, AgreesWithByteByByte) {
  std::vector<uint8_t> data = sample_data::Make(Kind::kRandom, 5000, 12);
  std::vector<uint8_t> oneByOne = data;
  InitKeys(kBuiltInPassword);
  for (uint8_t& byte : oneByOne) {
    byte ^= DecryptByte();
    UpdateKeys(byte);
  }
  DecryptionKeys after = decryptionKeys;
  for (size_t piece : {size_t(5000), size_t(1), size_t(2), size_t(7), size_t(64), size_t(999)}) {
    std::vector<uint8_t> copy = data;
    InitKeys(kBuiltInPassword);
    for (size_t at = 0; at < copy.size(); at += piece) {
      DecryptBuffer(copy.data() + at, uint32_t(std::min(piece, copy.size() - at)));
    }
    EXPECT_TRUE(copy == oneByOne) << piece;
    EXPECT_TRUE(SameKeys(decryptionKeys, after)) << piece;
  }
}

}  // namespace
}  // namespace engine_test
