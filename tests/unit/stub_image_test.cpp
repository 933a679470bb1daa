// KSSHLSTB.DLL as the i686 build writes it: a small library for the shell with the two standard
// in-process server exports under their plain names and no C runtime.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "support/pe_reader.h"

namespace {

const std::string kStubLibrary = std::string(KS_PRODUCT_TREE) + "/src/stublib/KSSHLSTB.DLL";

TEST(StubLibraryImage, IsASmall32BitLibrary) {
  PeImage image = ReadPeImage(kStubLibrary);
  ASSERT_TRUE(image.valid) << kStubLibrary;
  EXPECT_TRUE(image.isDll);
  EXPECT_EQ(image.machine, 0x14c) << "i386";
  EXPECT_FALSE(image.is64);
  EXPECT_LT(std::filesystem::file_size(kStubLibrary), 16384u);
}

TEST(StubLibraryImage, ExportsTheServerEntryPointsUndecorated) {
  PeImage image = ReadPeImage(kStubLibrary);
  EXPECT_EQ(image.exports, (std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject"}));
}

TEST(StubLibraryImage, ImportsNoRuntimeLibrary) {
  PeImage image = ReadPeImage(kStubLibrary);
  std::set<std::string> libraries;
  for (const auto& [dll, functions] : image.imports) libraries.insert(dll);
  EXPECT_EQ(libraries, (std::set<std::string>{"ADVAPI32.dll", "KERNEL32.dll"}));
}

}  // namespace
