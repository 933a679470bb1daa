// The container walk as a user of the extractor sees it: which entries of an archive land in
// the destination folder and under which name, how damaged archives end, and which names are
// refused because they would leave the folder or address a device.
#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "engine_harness.h"
#include "resources/catalogue.h"

namespace engine_test {
namespace {

using Strings = std::vector<std::string>;

class ZipWalkTest : public EngineTest {};

TEST_F(ZipWalkTest, ExtractsEveryFileEntryAndPassesTheCentralDirectory) {
  ZipEntry withExtras = Stored("docs/guide.txt", Pattern(3000));
  withExtras.extra = std::string("\x55\x54\x05\x00\x01\x02\x03\x04\x05", 9);
  withExtras.comment = "a file comment that the walk never reads";
  ZipWriter writer;
  writer.Add(Stored("readme.txt", "Kestra 8.0\r\n"));
  writer.Add(withExtras);
  writer.Add(Stored("bin\\KESTRA32.EX_", Pattern(70000, 3)));
  std::string archive = writer.Finish("archive comment");

  EXPECT_EQ(Extract(archive), 0);
  EXPECT_EQ(returned_, 1);
  EXPECT_TRUE(observer_.errors.empty());
  EXPECT_EQ(ListFiles(Out()), (Strings{"KESTRA32.EX_", "guide.txt", "readme.txt"}));
  EXPECT_EQ(ReadBytes(OutFile("readme.txt")), "Kestra 8.0\r\n");
  EXPECT_EQ(ReadBytes(OutFile("guide.txt")), Pattern(3000));
  EXPECT_EQ(ReadBytes(OutFile("KESTRA32.EX_")), Pattern(70000, 3));
  EXPECT_EQ(Announced(), (Strings{"readme.txt", "guide.txt", "KESTRA32.EX_"}));
}

TEST_F(ZipWalkTest, AnArchiveOfOnlyAnEndRecordExtractsNothing) {
  EXPECT_EQ(Extract(ZipWriter().Finish()), 0);
  EXPECT_TRUE(ListFiles(Out()).empty());
  EXPECT_TRUE(observer_.events.empty());
  EXPECT_TRUE(observer_.errors.empty());
}

TEST_F(ZipWalkTest, FolderEntriesAreSkippedAndEmptyEntriesFollowTheRequest) {
  ZipEntry folderWithData = Stored("docs/", "data a folder entry should not have");
  std::string archive = MakeZip({folderWithData, Stored("tools\\", ""), Stored("empty.txt", ""),
                                 Stored("after.txt", "after")});
  for (bool testOnly : {false, true}) {
    observer_.events.clear();
    EXPECT_EQ(Extract(archive, {.testOnly = testOnly}), 0);
    EXPECT_EQ(Announced(), (Strings{"empty.txt", "after.txt"})) << testOnly;
  }
  EXPECT_EQ(ListFiles(Out()), (Strings{"after.txt", "empty.txt"}));
  EXPECT_EQ(ReadBytes(OutFile("empty.txt")), "");

  fs::remove_all(Out());
  fs::create_directory(Out());
  observer_.events.clear();
  EXPECT_EQ(Extract(archive, {.skipEmpty = true}), 0);
  EXPECT_EQ(ListFiles(Out()), Strings{"after.txt"});
  EXPECT_EQ(Announced(), Strings{"after.txt"});
}

TEST_F(ZipWalkTest, TheSelectionListComparesWholeNamesIgnoringCaseAndSlashKind) {
  std::string archive = MakeZip({Stored("DOCS\\README.TXT", "1"), Stored("readme.txt", "2"),
                                 Stored("docs/Other.txt", "3"), Stored("bin/a.dll", "4")});
  struct Case {
    Strings selection;
    Strings extracted;
  } cases[] = {
      {{"docs/readme.txt"}, {"README.TXT"}},
      {{"README.TXT"}, {"readme.txt"}},
      {{"docs/other.TXT", "BIN/A.DLL"}, {"Other.txt", "a.dll"}},
      {{"a.dll"}, {}},
      {{"docs\\readme.txt"}, {}},  // the list itself uses slashes
  };
  for (const Case& c : cases) {
    fs::remove_all(Out());
    fs::create_directory(Out());
    EXPECT_EQ(Extract(archive, {.names = c.selection}), 0);
    EXPECT_EQ(ListFiles(Out()), c.extracted) << c.selection[0];
  }
  // A test-only job applies no selection.
  observer_.events.clear();
  EXPECT_EQ(Extract(archive, {.testOnly = true, .names = {"readme.txt"}}), 0);
  EXPECT_EQ(Announced().size(), 4u);
}

// Kept folders are created below the destination, never through a symbolic link: a link in the
// way (or a file where a folder should be) refuses the entry, and nothing lands outside.
TEST_F(ZipWalkTest, StoredFoldersAreKeptOnlyWhenAskedAndCreatedSafely) {
  std::string archive = MakeZip({Stored("bin/KESTRA32.EX_", "program"),
                                 Stored("docs/deep/er/guide.txt", "guide"), Stored("./top", "t")});
  EXPECT_EQ(Extract(archive), 0);
  EXPECT_EQ(ListFiles(Out()), (Strings{"KESTRA32.EX_", "guide.txt", "top"}));

  fs::remove_all(Out());
  fs::create_directory(Out());
  EXPECT_EQ(Extract(archive, {.keepFolders = true}), 0);
  EXPECT_EQ(ListFiles(Out()), (Strings{"bin/KESTRA32.EX_", "docs/deep/er/guide.txt", "top"}));
  EXPECT_EQ(ReadBytes(OutFile("docs/deep/er/guide.txt")), "guide");

  fs::create_directory(folder_ / "elsewhere");
  for (const char* inTheWay : {"link", "file"}) {
    fs::remove_all(Out());
    fs::create_directory(Out());
    if (std::string(inTheWay) == "link")
      fs::create_directory_symlink(folder_ / "elsewhere", OutFile("bin"));
    else
      WriteBytes(OutFile("bin"), "a file, not a folder");
    observer_.errors.clear();
    EXPECT_EQ(Extract(archive, {.keepFolders = true}), kAbortError) << inTheWay;
    EXPECT_EQ(observer_.errors, Strings{Format(MSG_TEXT_1030, OutFile("bin/KESTRA32.EX_"))});
    EXPECT_TRUE(ListFiles(folder_ / "elsewhere").empty()) << inTheWay;
  }

  // A link further down, above a folder still to be made: nothing is made through it.
  fs::remove_all(Out());
  fs::create_directories(OutFile("docs"));
  fs::create_directory_symlink(folder_ / "elsewhere", OutFile("docs/deep"));
  observer_.errors.clear();
  EXPECT_EQ(Extract(archive, {.keepFolders = true}), kAbortError);
  EXPECT_EQ(observer_.errors, Strings{Format(MSG_TEXT_1030, OutFile("docs/deep/er/guide.txt"))});
  EXPECT_TRUE(fs::is_empty(folder_ / "elsewhere"));
}

// Names that cannot be written as an ordinary file inside the destination folder end the job
// with message 1030 before anything is created, whatever the folders flag says.
TEST_F(ZipWalkTest, NamesThatLeaveTheFolderOrAddressADeviceAreRefused) {
  fs::create_directories(OutFile("sub/deeper"));
  struct Case {
    std::string stored;
    bool keepFolders;
    bool refused;
  } cases[] = {
      {"../escape.txt", true, true},
      {"sub/../../escape.txt", true, true},
      {"sub/..", false, true},
      {"/..", false, true},
      {"\\..", false, true},
      {"..", false, true},
      {".", false, true},
      {"...", false, true},
      {". .", false, true},
      {"", false, true},
      {"/etc/passwd", true, true},
      {"\\Windows\\win.ini", true, true},
      {"C:\\autoexec.bat", true, true},
      {"C:autoexec.bat", false, true},
      {"file.txt:stream", false, true},
      {"sub/a:b/c.txt", true, true},
      {"CON", false, true},
      {"con.txt", false, true},
      {"docs/Nul", false, true},
      {"aux .log", false, true},
      {"PRN", false, true},
      {"com1.dat", false, true},
      {"COM9", false, true},
      {"lpt1", false, true},
      {"LPT9.txt", false, true},
      {"COM\u00b9", false, true},  // Windows reads the superscripts as digits
      {"lpt\u00b2.txt", false, true},
      {"sub/Com\u00b3 .log", false, true},
      {"com\u00b4", false, false},
      {"sub/CON/x.txt", true, true},
      {"sub/../x.txt", false, false},  // base name x.txt: the folders are not used
      {"../escape.txt", false, false},
      {"/etc/passwd", false, false},
      {"sub/deeper/ok.txt", true, false},
      {"./sub/ok.txt", true, false},
      {"con1.txt", false, false},
      {"com10", false, false},
      {"lpt", false, false},
      {"console.txt", false, false},
      {"..hidden", false, false},
      {"name.", false, false},
  };
  for (const Case& c : cases) {
    fs::remove_all(Out());
    fs::create_directories(OutFile("sub/deeper"));
    observer_.errors.clear();
    ZipEntry entry = Stored(c.stored, "payload");
    if (c.stored.find('\xC2') != std::string::npos) entry.extraFlags = 0x800;
    std::string archive = MakeZip({entry});
    int32_t result = Extract(archive, {.keepFolders = c.keepFolders});
    EXPECT_EQ(result, c.refused ? kAbortError : 0) << c.stored;
    if (c.refused) {
      ASSERT_EQ(observer_.errors.size(), 1u) << c.stored;
      EXPECT_EQ(observer_.errors[0].rfind("Can't create output file: " + Out() + "/", 0), 0u)
          << observer_.errors[0];
      EXPECT_TRUE(ListFiles(Out()).empty()) << c.stored;
    } else {
      EXPECT_EQ(ListFiles(Out()).size(), 1u) << c.stored;
    }
    EXPECT_FALSE(fs::exists(folder_ / "escape.txt")) << c.stored;
  }
}

TEST_F(ZipWalkTest, NamesAndPathsLongerThanTheBuffersAreRefusedNotCut) {
  std::string longName(300, 'n');
  std::string archive = MakeZip({Stored("first.txt", "1"), Stored(longName, "long")});
  EXPECT_EQ(Extract(archive), kAbortError);
  ASSERT_EQ(observer_.errors.size(), 1u);
  std::string shown = observer_.errors[0];
  EXPECT_EQ(shown.rfind("Can't create output file: " + Out() + "/nnnn", 0), 0u) << shown;
  EXPECT_EQ(shown.size(), std::string("Can't create output file: ").size() + 263);
  EXPECT_EQ(ListFiles(Out()), Strings{"first.txt"});

  // The same archive tests cleanly, and a long name that is not selected is passed over.
  observer_.errors.clear();
  EXPECT_EQ(Extract(archive, {.testOnly = true}), 0);
  EXPECT_EQ(Extract(archive, {.names = {"first.txt"}}), 0);
  EXPECT_TRUE(observer_.errors.empty());

  // A name that fits, under a destination folder that leaves no room for it.
  std::string deep = Out() + "/" + std::string(220, 'd');
  fs::create_directory(deep);
  EXPECT_EQ(
      Extract(MakeZip({Stored("a-name-of-thirty-characters.txt", "x")}), {.destination = deep}),
      kAbortError);
  ASSERT_EQ(observer_.errors.size(), 1u);
  EXPECT_EQ(observer_.errors[0].size(), std::string("Can't create output file: ").size() + 263);
  EXPECT_TRUE(ListFiles(deep).empty());
}

TEST_F(ZipWalkTest, JunkBetweenRecordsIsSteppedOver) {
  ZipWriter writer;
  writer.AddBytes("junk before the first record");
  writer.Add(Stored("a.txt", "alpha"));
  writer.AddBytes(std::string("PK\x01", 3) + "PK" + std::string(100, '\0'));
  writer.Add(Stored("b.txt", "beta"));
  writer.AddBytes("PK\x05");
  std::string archive = writer.Finish();
  EXPECT_EQ(Extract(archive), 0);
  EXPECT_TRUE(observer_.errors.empty());
  EXPECT_EQ(ListFiles(Out()), (Strings{"a.txt", "b.txt"}));
}

TEST_F(ZipWalkTest, JunkWithNoEndRecordAfterItIsAnInvalidHeader) {
  ZipWriter writer;
  writer.Add(Stored("a.txt", "alpha"));
  writer.AddBytes("this is not a ZIP record and nothing follows it");
  EXPECT_EQ(Extract(writer.bytes()), kAbortError);
  EXPECT_EQ(observer_.errors, Strings{MSG_TEXT_1034});
  EXPECT_EQ(observer_.errorClasses, std::vector<int>{7004});
  EXPECT_EQ(ListFiles(Out()), Strings{"a.txt"}) << "entries completed earlier stay";
}

// Cut short anywhere, an archive ends the job with a read error or an invalid header; no
// entry cut short is left behind, and everything before it is complete.
TEST_F(ZipWalkTest, AnArchiveCutShortAtAnyByteEndsWithAReadErrorOrInvalidHeader) {
  ZipEntry described = Stored("two.txt", Pattern(40));
  described.descriptor = Descriptor::kWithSignature;
  ZipEntry encrypted = Stored("three.txt", Pattern(30, 2));
  encrypted.password = "pw";
  std::string archive = MakeZip({Stored("one.txt", Pattern(50, 1)), described, encrypted});
  const std::string readError = Format(MSG_TEXT_1037, ArchivePath());
  const std::map<std::string, std::string> complete = {
      {"one.txt", Pattern(50, 1)}, {"two.txt", Pattern(40)}, {"three.txt", Pattern(30, 2)}};
  for (size_t cut = 0; cut < archive.size(); ++cut) {
    fs::remove_all(Out());
    fs::create_directory(Out());
    observer_.errors.clear();
    EXPECT_EQ(Extract(archive.substr(0, cut), {.password = "pw"}), kAbortError) << cut;
    ASSERT_EQ(observer_.errors.size(), 1u) << cut;
    EXPECT_TRUE(observer_.errors[0] == readError || observer_.errors[0] == MSG_TEXT_1034)
        << cut << ": " << observer_.errors[0];
    for (const std::string& name : ListFiles(Out()))
      EXPECT_EQ(ReadBytes(OutFile(name)), complete.at(name)) << cut << " " << name;
  }
}

TEST_F(ZipWalkTest, DataDescriptorsWithAndWithoutSignatureAreSteppedOver) {
  for (Descriptor kind : {Descriptor::kWithSignature, Descriptor::kWithoutSignature}) {
    fs::remove_all(Out());
    fs::create_directory(Out());
    ZipEntry first = Stored("first.bin", Pattern(5000));
    first.descriptor = kind;
    ZipEntry second = Stored("second.bin", Pattern(700, 9));
    second.descriptor = kind;
    observer_.errors.clear();
    EXPECT_EQ(Extract(MakeZip({first, second, Stored("third.bin", "3")})), 0);
    EXPECT_TRUE(observer_.errors.empty());
    EXPECT_EQ(ListFiles(Out()), (Strings{"first.bin", "second.bin", "third.bin"}));
    EXPECT_EQ(ReadBytes(OutFile("second.bin")), Pattern(700, 9));
  }
}

TEST_F(ZipWalkTest, APathWithoutAnyDotNamesAZipFile) {
  std::string archive = MakeZip({Stored("a.txt", "a")});
  fs::create_directory(folder_ / "v1.0");
  WriteBytes(folder_ / "plain.ZIP", archive);
  WriteBytes(folder_ / "v1.0/plain.ZIP", archive);
  WriteBytes(folder_ / "named.ks", archive);

  EXPECT_EQ(Run({.archivePath = folder_ / "plain"}), 0);
  EXPECT_EQ(Run({.archivePath = folder_ / "named.ks"}), 0);
  EXPECT_EQ(Run({.archivePath = folder_ / "v1.0/plain"}), kAbortError);
  EXPECT_EQ(observer_.errors, Strings{Format(MSG_TEXT_1031, folder_ / "v1.0/plain")});

  observer_.errors.clear();
  EXPECT_EQ(Run({.archivePath = folder_ / "missing"}), kAbortError);
  EXPECT_EQ(observer_.errors, Strings{Format(MSG_TEXT_1031, folder_ / "missing.ZIP")});
}

TEST_F(ZipWalkTest, TheArchiveMayBeginAtAnOffset) {
  std::string prefix = "a self-extractor's program would stand here";
  std::string archive = prefix + MakeZip({Stored("a.txt", "alpha")});
  EXPECT_EQ(Extract(archive, {.offset = static_cast<int32_t>(prefix.size())}), 0);
  EXPECT_EQ(ReadBytes(OutFile("a.txt")), "alpha");
}

// A size of 2 GB or more is skipped forward; it must not send the walk back into the header it
// has just read.
TEST_F(ZipWalkTest, AHugeSizeIsSkippedForwardToTheEndOfTheFile) {
  for (uint32_t size : {0x80000000u, 0xFFFFFFF0u}) {
    ZipEntry huge = Stored("huge.bin", "x");
    huge.claimedCompressedSize = size;
    observer_.errors.clear();
    EXPECT_EQ(Extract(MakeZip({huge}), {.names = {"other"}}), kAbortError);
    EXPECT_EQ(observer_.errors, Strings{Format(MSG_TEXT_1037, ArchivePath())});
  }
}

// Entries whose CRC and sizes follow their data, as writers to a pipe make them: the values come
// from the entry's central record, found by its local header's position also when the archive
// has a comment or bytes in front of it, and the descriptor is stepped over with or without its
// signature.
TEST_F(ZipWalkTest, StreamedEntriesTakeTheirSizesFromTheCentralDirectory) {
  std::vector<ZipEntry> entries = {Stored("stored.bin", Pattern(70000)),
                                   Stored("deflated.txt", std::string(50000, 'k')),
                                   Stored("locked.bin", Pattern(3000, 5)), Stored("empty", ""),
                                   Stored("plain.txt", "not streamed")};
  entries[1].method = 8;
  entries[2].password = "pw";
  entries[2].descriptor = Descriptor::kWithoutSignature;
  for (size_t i = 0; i < 4; ++i) entries[i].streamed = true;
  std::string prefix = "a program in front of the archive";
  struct Case {
    const char* what;
    std::string archive;
    int32_t offset;
  } cases[] = {
      {"plain", MakeZip(entries), 0},
      {"offsets counted from the file's start",
       [&] {
         ZipWriter writer;
         writer.AddBytes(prefix);
         for (const ZipEntry& e : entries) writer.Add(e);
         return writer.Finish("comment");
       }(),
       0},
      {"offsets counted from the archive", prefix + MakeZip(entries), int32_t(prefix.size())},
      {"bytes in front stepped over", prefix + MakeZip(entries), 0},
  };
  for (const Case& c : cases) {
    fs::remove_all(Out());
    fs::create_directory(Out());
    observer_.errors.clear();
    EXPECT_EQ(Extract(c.archive, {.reportCrc = true, .password = "pw", .offset = c.offset}), 0)
        << c.what << ": " << (observer_.errors.empty() ? "" : observer_.errors[0]);
    for (const ZipEntry& e : entries)
      EXPECT_EQ(ReadBytes(OutFile(e.name)), e.data) << c.what << " " << e.name;
  }
}

// A streamed entry whose sizes cannot be found, or whose records disagree, is an error, never a
// file of the wrong length; a wrong CRC is reported as for any entry.
TEST_F(ZipWalkTest, StreamedEntriesWithoutTrustworthySizesAreRefused) {
  ZipEntry streamed = Stored("streamed.txt", Pattern(5000));
  streamed.streamed = true;
  ZipEntry badDescriptor = streamed;
  badDescriptor.descriptorBytes = DataDescriptorRecord(ZlibCrc32(streamed.data), 4999, 5000, true);
  ZipEntry badCrc = streamed;
  badCrc.claimedCrc = 0x12345678;
  std::string renamed = MakeZip({streamed});
  renamed[renamed.rfind("streamed.txt")] = 'S';  // the central record's name
  std::string zip64 = MakeZip({streamed});
  zip64.replace(zip64.size() - 12, 2, "\xff\xff");  // the end record's entry count
  ZipWriter unfinished;
  unfinished.Add(streamed);
  struct Case {
    std::string archive;
    std::string error;
    std::string reason;  // "" when the CRC check decides
  } cases[] = {
      {unfinished.bytes(), MSG_TEXT_1034, "no central directory record of it can be found"},
      {renamed, MSG_TEXT_1034, "central directory record disagrees with its local header"},
      {MakeZip({badDescriptor}), MSG_TEXT_1034, "data descriptor after its data disagrees"},
      {zip64, MSG_TEXT_1034, "Zip64 records"},
      {MakeZip({badCrc}),
       "ZIP damaged: file " + OutFile("streamed.txt") + ": Bad CRC " +
           [&] {
             char text[20];
             snprintf(text, sizeof text, "%08x", ZlibCrc32(streamed.data));
             return std::string(text);
           }() +
           " (should be 12345678)",
       ""},
  };
  for (const Case& c : cases) {
    fs::remove_all(Out());
    fs::create_directory(Out());
    observer_.errors.clear();
    observer_.refusals.clear();
    EXPECT_EQ(Extract(c.archive, {.reportCrc = true}), kAbortError) << c.error;
    EXPECT_EQ(observer_.errors, Strings{c.error});
    EXPECT_TRUE(ListFiles(Out()).empty()) << c.error;
    if (c.reason.empty()) continue;
    ASSERT_EQ(observer_.refusals.size(), 1u) << c.error;
    EXPECT_EQ(observer_.refusals[0].rfind("streamed.txt: ", 0), 0u) << observer_.refusals[0];
    EXPECT_NE(observer_.refusals[0].find(c.reason), std::string::npos) << observer_.refusals[0];
  }
}

// What the engine cannot decode is refused before anything is written: an installed file of the
// same name keeps its content. The box shows the closest catalogue message; the caller hears
// the real reason.
TEST_F(ZipWalkTest, UnsupportedEntriesAreRefusedBeforeAnythingIsWritten) {
  auto entry = [](uint16_t method, uint16_t flags, const std::string& extra) {
    ZipEntry e = Stored("victim.txt", "new content");
    e.method = method;
    e.extraFlags = flags;
    e.extra = extra;
    return e;
  };
  ZipEntry longer = entry(0, 0, ""), shorter = entry(0, 0, "");
  longer.claimedUncompressedSize = 5;
  shorter.claimedUncompressedSize = 20;
  ZipEntry zip64Sizes = entry(0, 0, "");
  zip64Sizes.claimedCompressedSize = 0xFFFFFFFF;
  std::string aesExtra("\x01\x99\x07\x00\x02\x00\x41\x45\x03\x00\x00", 11);
  std::string zip64Extra("\x01\x00\x08\x00\x0b\x00\x00\x00\x00\x00\x00\x00", 12);
  struct Case {
    ZipEntry entry;
    const char* error;
    int errorClass;
    const char* reason;
  } cases[] = {
      {entry(6, 0, ""), MSG_TEXT_1032, 7000, "neither stored (0) nor deflated (8)"},
      {entry(99, 1, aesExtra), MSG_TEXT_1032, 7000, "AES or strong encryption"},
      {entry(8, 0x41, ""), MSG_TEXT_1032, 7000, "AES or strong encryption"},
      {entry(0, 0, zip64Extra), MSG_TEXT_1034, 7004, "Zip64"},
      {zip64Sizes, MSG_TEXT_1034, 7004, "Zip64"},
      {longer, MSG_TEXT_1034, 7004, "compressed size does not fit"},
      {shorter, MSG_TEXT_1034, 7004, "compressed size does not fit"},
  };
  for (const Case& c : cases) {
    for (bool testOnly : {false, true}) {
      WriteBytes(OutFile("victim.txt"), "installed");
      observer_.errors.clear();
      observer_.errorClasses.clear();
      observer_.refusals.clear();
      EXPECT_EQ(Extract(MakeZip({Stored("first.txt", "1"), c.entry}), {.testOnly = testOnly}),
                kAbortError)
          << c.reason;
      EXPECT_EQ(observer_.errors, Strings{c.error}) << c.reason;
      EXPECT_EQ(observer_.errorClasses, std::vector<int>{c.errorClass});
      ASSERT_EQ(observer_.refusals.size(), 1u) << c.reason;
      EXPECT_NE(observer_.refusals[0].find(std::string("victim.txt: ")), std::string::npos);
      EXPECT_NE(observer_.refusals[0].find(c.reason), std::string::npos) << observer_.refusals[0];
      EXPECT_EQ(ReadBytes(OutFile("victim.txt")), "installed") << c.reason;
    }
  }
}

// Names are code page 437 unless flagged UTF-8 (bit 11), folders included; they are written,
// shown, announced and selected as they are written. A flagged name that is not UTF-8 is
// refused, never written under another spelling.
TEST_F(ZipWalkTest, StoredNamesAreReadInCodePage437OrUtf8) {
  auto named = [](const std::string& name, bool utf8) {
    ZipEntry e = Stored(name, "menu");
    if (utf8) e.extraFlags = 0x800;
    return e;
  };
  struct Case {
    ZipEntry entry;
    bool keepFolders;
    Strings selection;
    Strings written;
  } cases[] = {
      {named("caf\x82 \x9c\xe1.txt", false), false, {}, {"café £ß.txt"}},
      {named("caf\xc3\xa9.txt", true), false, {}, {"café.txt"}},
      {named("папка/привет.txt", true), true, {"папка/привет.txt"}, {"папка/привет.txt"}},
      {named("\x8e\xbb/\x84.txt", false), true, {"Ä╗/ä.txt"}, {"Ä╗/ä.txt"}},
      {named("日本/語.txt", true), false, {"日本/語.txt"}, {"語.txt"}},
  };
  for (const Case& c : cases) {
    fs::remove_all(Out());
    fs::create_directory(Out());
    observer_.events.clear();
    EXPECT_EQ(Extract(MakeZip({c.entry}), {.names = c.selection, .keepFolders = c.keepFolders}), 0);
    EXPECT_EQ(ListFiles(Out()), c.written) << c.entry.name;
    EXPECT_EQ(Announced(), Strings{fs::path(c.written[0]).filename().string()});
  }
  fs::remove_all(Out());
  fs::create_directory(Out());
  observer_.errors.clear();
  EXPECT_EQ(Extract(MakeZip({named("caf\xe9.txt", true)})), kAbortError);
  EXPECT_EQ(observer_.errors, Strings{Format(MSG_TEXT_1030, OutFile("cafΘ.txt"))});
  EXPECT_NE(observer_.refusals.back().find("not well-formed"), std::string::npos);
  EXPECT_TRUE(ListFiles(Out()).empty());
}

}  // namespace
}  // namespace engine_test

namespace engine_test {
namespace {

// The destination folder is taken byte for byte as given, a backslash in it included, and no
// folder is long enough in bytes to carry the path past the end of its buffer: four-byte
// characters fit, and bytes that are no UTF-8 character at all are counted as bytes.
TEST_F(ZipWalkTest, TheDestinationIsTakenAsGivenAndBoundedInBytes) {
  std::string backslashed = Out() + "/a\\b";
  fs::create_directory(backslashed);
  std::string emoji;
  for (int i = 0; i < 230; ++i) emoji += "\xF0\x9F\x98\x80";
  struct Case {
    std::string destination;
    std::string name;
    std::string outcome;  // the end of the error and its reason, or "" when the entry lands
  } cases[] = {
      {backslashed, "x.txt", ""},
      {Out() + "/" + emoji, "x.txt", emoji + "/x.txt"},  // a folder that cannot exist
      {Out() + "/" + std::string(1200, '\x80'), "x.txt", "longer than 263 characters"},
      {Out() + "/" + std::string(820, '\xBF'), std::string(250, 'n'), "than 263 characters"},
  };
  for (const Case& c : cases) {
    observer_.errors.clear();
    observer_.refusals.clear();
    int32_t result = Extract(MakeZip({Stored(c.name, "content")}), {.destination = c.destination});
    if (c.outcome.empty()) {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(ReadBytes(c.destination + "/" + c.name), "content");
      continue;
    }
    EXPECT_EQ(result, kAbortError);
    ASSERT_EQ(observer_.errors.size(), 1u);
    std::string told =
        observer_.errors[0] + (observer_.refusals.empty() ? "" : observer_.refusals[0]);
    EXPECT_TRUE(told.ends_with(c.outcome)) << told.substr(told.size() - 80);
  }
  EXPECT_EQ(ListFiles(Out()), Strings{"a\\b/x.txt"});
}

// The central directory decides what the archive holds: bytes in front of it (a program with a
// record's signature in its code) are stepped over, every entry must agree with its central
// record, and the walk may not end with fewer entries than the directory lists. A file of the
// name of a refused entry keeps its content.
TEST_F(ZipWalkTest, TheCentralDirectoryDecidesWhatTheArchiveHolds) {
  auto patched = [](std::string archive, size_t at, const std::string& bytes) {
    return archive.replace(at, bytes.size(), bytes);
  };
  std::string two = MakeZip({Stored("a.txt", "alpha"), Stored("b.txt", "beta")});
  size_t central = two.find("PK\x01\x02"), end = two.size() - 22;
  ZipWriter stub;
  stub.AddBytes(std::string("MZ a program PK\x05\x06") + std::string(18, '\x01') +
                "PK\x03\x04code");
  stub.Add(Stored("a.txt", "alpha"));
  ZipEntry streamed = Stored("a.txt", Pattern(3000));
  streamed.streamed = true;
  std::string zip64 = MakeZip({streamed});
  zip64 = patched(zip64, zip64.find("PK\x01\x02") + 20, std::string(8, '\xFF'));
  struct Case {
    const char* what;
    std::string archive;
    const char* reason;  // "" when a.txt comes out whole
  } cases[] = {
      {"an end record's signature in front", stub.Finish(), ""},
      {"local CRC and sizes 0 without bit 3", patched(two, 14, std::string(12, '\0')),
       "a.txt: its central directory record disagrees"},
      {"another method in the central record", patched(two, central + 10, "\x08"),
       "a.txt: its central directory record disagrees"},
      {"Zip64 sizes in the central record only", zip64, "a.txt: its sizes or offsets are kept"},
      {"more entries counted than there are",
       patched(two, end + 8, std::string("\x03\x00\x03\x00", 4)), "central directory is damaged"},
      {"more records than counted", patched(two, end + 8, std::string("\x01\x00\x01\x00", 4)),
       "central directory is damaged"},
  };
  for (const Case& c : cases) {
    WriteBytes(OutFile("a.txt"), "installed");
    observer_.refusals.clear();
    int32_t result = Extract(c.archive);
    if (!*c.reason) {
      EXPECT_EQ(result, 0) << c.what;
      EXPECT_EQ(ReadBytes(OutFile("a.txt")), "alpha") << c.what;
      continue;
    }
    EXPECT_EQ(result, kAbortError) << c.what;
    ASSERT_EQ(observer_.refusals.size(), 1u) << c.what;
    EXPECT_NE(observer_.refusals[0].find(c.reason), std::string::npos) << observer_.refusals[0];
    EXPECT_EQ(ReadBytes(OutFile("a.txt")), "installed") << c.what;
  }

  // Streamed or not, an archive followed by another one, or by a stray end record, ends the
  // same way: the end record that counts is the same one.
  ZipWriter second;
  second.Add(Stored("c.txt", "gamma"));
  for (const std::string& follower :
       {second.Finish(), std::string("PK\x05\x06", 4) + std::string(18, '\0')}) {
    std::vector<std::pair<int32_t, Strings>> outcomes;
    for (bool isStreamed : {false, true}) {
      fs::remove_all(Out());
      fs::create_directory(Out());
      ZipEntry first = Stored("a.txt", "alpha");
      first.streamed = isStreamed;
      outcomes.push_back({Extract(MakeZip({first}) + follower), ListFiles(Out())});
    }
    EXPECT_EQ(outcomes[0], outcomes[1]) << follower.size();
  }
}

// A central directory in reverse order costs no more than one in file order.
TEST_F(ZipWalkTest, TheCentralRecordsAreFoundInAnyOrder) {
  std::vector<ZipEntry> entries;
  for (int i = 0; i < 40000; ++i) {
    entries.push_back(Stored("e" + std::to_string(i), "x"));
    entries.back().streamed = true;
  }
  std::string archive = MakeZip(entries);
  size_t start = archive.find(std::string("PK\x01\x02", 4));
  auto field = [&](size_t at) { return uint8_t(archive[at]) | uint8_t(archive[at + 1]) << 8; };
  std::vector<std::string> records;
  for (size_t at = start; archive.compare(at, 4, "PK\x01\x02") == 0;) {
    size_t length = 46 + field(at + 28) + field(at + 30) + field(at + 32);
    records.push_back(archive.substr(at, length));
    at += length;
  }
  std::string reversed = archive.substr(0, start);
  for (auto record = records.rbegin(); record != records.rend(); ++record) reversed += *record;
  reversed += archive.substr(archive.size() - 22);
  ASSERT_EQ(reversed.size(), archive.size());
  auto seconds = [&](const std::string& bytes) {
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(Extract(bytes, {.testOnly = true}), 0);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  };
  double inOrder = seconds(archive);
  EXPECT_LT(seconds(reversed), 3 * inOrder + 1.0) << inOrder;
}

}  // namespace
}  // namespace engine_test
