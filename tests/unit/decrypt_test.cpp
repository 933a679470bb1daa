// Encrypted entries: the built-in password, a request's own password (also empty), a wrong or
// missing one, the check byte taken from the time when a data descriptor follows, encrypted
// entries in a row, and the job's own copy of the request's password.
#include <gtest/gtest.h>

#include "engine_harness.h"
#include "resources/catalogue.h"
#include "unzip/builtin_password.h"

namespace engine_test {
namespace {

using Strings = std::vector<std::string>;

class DecryptTest : public EngineTest {};

ZipEntry Encrypted(const std::string& name, const std::string& data, const std::string& password) {
  ZipEntry entry = Stored(name, data);
  entry.password = password;
  return entry;
}

TEST_F(DecryptTest, EntriesDecryptUnderThePasswordInForce) {
  const std::string content = Pattern(40000, 5);
  struct Case {
    const char* how;
    std::string entryPassword;
    bool passwordGiven;
    const char* requestPassword;
    const char* error;  // null: extracted
  } cases[] = {
      {"built-in", kBuiltInPassword, false, nullptr, nullptr},
      {"request's own", "s3cret", true, "s3cret", nullptr},
      {"empty", "", true, "", nullptr},
      {"wrong", "s3cret", true, "S3CRET", "INCORRECT PASSWORD"},
      {"built-in replaced", kBuiltInPassword, true, "s3cret", "INCORRECT PASSWORD"},
      {"built-in without its last byte", kBuiltInPassword, true,
       "Quillfeather\xA9 1987-1995 sample archive text", "INCORRECT PASSWORD"},
      {"none", "s3cret", true, nullptr, "NO PASSWORD"},
  };
  for (const Case& c : cases) {
    fs::remove_all(Out());
    fs::create_directory(Out());
    observer_.events.clear();
    observer_.errors.clear();
    observer_.errorClasses.clear();
    std::string archive =
        MakeZip({Stored("plain.txt", "plain"), Encrypted("secret.bin", content, c.entryPassword),
                 Stored("after.txt", "after")});
    int32_t result = Extract(
        archive,
        {.reportCrc = true, .passwordGiven = c.passwordGiven, .password = c.requestPassword});
    if (!c.error) {
      EXPECT_EQ(result, 0) << c.how;
      EXPECT_TRUE(observer_.errors.empty()) << c.how;
      EXPECT_EQ(ReadBytes(OutFile("secret.bin")), content) << c.how;
      EXPECT_EQ(ListFiles(Out()), (Strings{"after.txt", "plain.txt", "secret.bin"}));
    } else {
      EXPECT_EQ(result, kAbortError) << c.how;
      EXPECT_EQ(observer_.errors, Strings{c.error}) << c.how;
      EXPECT_EQ(observer_.errorClasses, std::vector<int>{7003}) << c.how;
      EXPECT_EQ(ListFiles(Out()), Strings{"plain.txt"}) << c.how << ": nothing was created";
      EXPECT_EQ(Announced(), Strings{"plain.txt"}) << c.how;
    }
  }
}

// With flag bit 3 the CRC was not known when the header was made: the check byte is the high
// byte of the time.
TEST_F(DecryptTest, WithADataDescriptorTheTimeGivesTheCheckByte) {
  ZipEntry described = Encrypted("described.txt", "described", kBuiltInPassword);
  described.descriptor = Descriptor::kWithoutSignature;
  described.dosTime = DosTime(17, 45, 10);
  ASSERT_NE(described.dosTime >> 8, ZlibCrc32("described") >> 24);
  EXPECT_EQ(Extract(MakeZip({described})), 0);
  EXPECT_EQ(ReadBytes(OutFile("described.txt")), "described");

  described.checkByte = static_cast<uint8_t>(ZlibCrc32("described") >> 24);
  EXPECT_EQ(Extract(MakeZip({described})), kAbortError);
  EXPECT_EQ(observer_.errors, Strings{"INCORRECT PASSWORD"});
}

// Each encrypted entry starts the keys afresh, whatever the one before left them in.
TEST_F(DecryptTest, EncryptedEntriesInARowEachStartFresh) {
  ZipEntry third = Encrypted("3.bin", Pattern(29000, 3), "pw");
  third.descriptor = Descriptor::kWithSignature;
  std::string archive =
      MakeZip({Encrypted("1.bin", Pattern(31000, 1), "pw"), Encrypted("2.bin", Pattern(7, 2), "pw"),
               third, Stored("4.txt", "plain"), Encrypted("5.bin", "", "pw")});
  EXPECT_EQ(Extract(archive, {.reportCrc = true, .password = "pw"}), 0);
  EXPECT_TRUE(observer_.errors.empty());
  EXPECT_EQ(ReadBytes(OutFile("1.bin")), Pattern(31000, 1));
  EXPECT_EQ(ReadBytes(OutFile("2.bin")), Pattern(7, 2));
  EXPECT_EQ(ReadBytes(OutFile("3.bin")), Pattern(29000, 3));
  EXPECT_EQ(ReadBytes(OutFile("5.bin")), "");
}

// The 12 header bytes are read apart from the data and do not count as progress: an entry of
// 10,230 data bytes stays below one unit although 10,242 bytes of it are in the archive.
TEST_F(DecryptTest, TheEncryptionHeaderIsNotCountedAsProgress) {
  std::string archive =
      MakeZip({Encrypted("a.bin", Pattern(10230), kBuiltInPassword), Stored("b.txt", Pattern(20))});
  EXPECT_EQ(Extract(archive), 0);
  EXPECT_EQ(observer_.events, (Strings{"name a.bin", "progress 0", "name b.txt", "progress 0"}));
}

// An encrypted entry too short to hold its header is damaged: a read error, before anything
// past the entry is taken for its header.
TEST_F(DecryptTest, AnEncryptedEntryShorterThanItsHeaderIsAReadError) {
  for (uint32_t size : {0u, 5u, 11u}) {
    ZipEntry shortEntry = Encrypted("short.bin", "data", kBuiltInPassword);
    shortEntry.claimedCompressedSize = size;
    ZipWriter writer;
    writer.Add(shortEntry);
    writer.Add(Stored("next.txt", Pattern(5000)));
    observer_.errors.clear();
    observer_.events.clear();
    EXPECT_EQ(Extract(writer.Finish()), kAbortError) << size;
    EXPECT_EQ(observer_.errors, Strings{Format(MSG_TEXT_1037, ArchivePath())}) << size;
    EXPECT_TRUE(observer_.events.empty()) << size << ": the entry was never started";
    EXPECT_TRUE(ListFiles(Out()).empty());
  }
}

// The job works on its own copy of the request's password, releases it at the end, and the
// next job is back on the built-in password.
TEST_F(DecryptTest, TheRequestsPasswordIsCopiedAndTheBuiltInOneComesBack) {
  std::string archive = MakeZip({Encrypted("1.bin", "one", "mine"), Stored("2.txt", "two"),
                                 Encrypted("3.bin", "three", "mine")});
  char password[] = "mine";
  observer_.onProgress = [&](uint16_t) {
    password[0] = 'X';  // the caller changes its text while the job runs
    return false;
  };
  EXPECT_EQ(Extract(archive, {.password = password}), 0);
  EXPECT_EQ(ReadBytes(OutFile("3.bin")), "three");

  observer_.onProgress = nullptr;
  fs::remove_all(Out());
  fs::create_directory(Out());
  EXPECT_EQ(Extract(MakeZip({Encrypted("builtin.bin", "b", kBuiltInPassword)})), 0);
  EXPECT_EQ(ReadBytes(OutFile("builtin.bin")), "b");
}

}  // namespace
}  // namespace engine_test
