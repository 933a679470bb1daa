// ksdist's own PE resource reader: it finds a string-named resource in PE32 and PE32+ images
// as Windows does, reads the shipped SETUP.EXE's stub image byte for byte, and answers "not
// found" for every cut or damaged image without reading outside it.
#include "pe_resources.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "zip_records.h"

namespace {

constexpr uint32_t kSectionRva = 0x1000;
constexpr uint32_t kSectionFileOffset = 0x200;
constexpr uint32_t kSubdirectory = 0x80000000;
const std::string kStubBytes = "MZ the stub library's image";

std::string DirectoryString(const std::string& text) {
  std::string out;
  Put16(out, static_cast<uint32_t>(text.size()));
  for (char c : text) Put16(out, static_cast<uint8_t>(c));
  return out;
}

// One directory with one entry: `name` is a string offset with the high bit set, or an id.
std::string Directory(uint32_t named, uint32_t name, uint32_t target) {
  std::string out(12, '\0');
  Put16(out, named);
  Put16(out, 1 - named);
  Put32(out, name);
  Put32(out, target);
  return out;
}

// The resource section: an icon (type 3, id 1) and KSSHLEXT / KS_SHL, both in language 1033.
std::string ResourceSection() {
  constexpr uint32_t kShlNames = 32, kShlLanguages = 56, kIconNames = 80, kIconLanguages = 104,
                     kShlData = 128, kIconData = 144, kTypeName = 160, kShlName = 178,
                     kShlBytes = 192;
  const std::string icon = "icon";
  std::string out(12, '\0');  // the root holds two entries: the named type first, as rc does
  Put16(out, 1);
  Put16(out, 1);
  Put32(out, kSubdirectory | kTypeName);
  Put32(out, kSubdirectory | kShlNames);
  Put32(out, 3);
  Put32(out, kSubdirectory | kIconNames);
  out += Directory(1, kSubdirectory | kShlName, kSubdirectory | kShlLanguages);
  out += Directory(0, 1033, kShlData);
  out += Directory(0, 1, kSubdirectory | kIconLanguages);
  out += Directory(0, 1033, kIconData);
  EXPECT_EQ(out.size(), kShlData);
  for (auto [at, size] :
       {std::pair{kShlBytes, kStubBytes.size()},
        std::pair{kShlBytes + static_cast<uint32_t>(kStubBytes.size()), icon.size()}}) {
    Put32(out, kSectionRva + at);
    Put32(out, static_cast<uint32_t>(size));
    Put32(out, 1252);
    Put32(out, 0);
  }
  out += DirectoryString("KSSHLEXT") + DirectoryString("KS_SHL");
  EXPECT_EQ(out.size(), kShlBytes);
  return out + kStubBytes + icon;
}

std::string PeImageWithResources(bool plus) {
  std::string section = ResourceSection();
  std::string image(0x3C, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  Put32(image, 0x40);
  Put32(image, 0x00004550);
  uint32_t optionalSize = plus ? 240 : 224;
  Put16(image, plus ? 0x8664 : 0x14C);
  Put16(image, 1);  // sections
  image += std::string(12, '\0');
  Put16(image, optionalSize);
  Put16(image, 0x2102);
  std::string optional;
  Put16(optional, plus ? 0x20B : 0x10B);
  optional.resize(plus ? 108 : 92, '\0');
  Put32(optional, 16);  // data directories
  for (uint32_t i = 0; i < 16; ++i) {
    Put32(optional, i == 2 ? kSectionRva : 0);
    Put32(optional, i == 2 ? static_cast<uint32_t>(section.size()) : 0);
  }
  EXPECT_EQ(optional.size(), optionalSize);
  image += optional;
  std::string header = ".rsrc";
  header.resize(8, '\0');
  Put32(header, static_cast<uint32_t>(section.size()));
  Put32(header, kSectionRva);
  Put32(header, static_cast<uint32_t>(section.size()));
  Put32(header, kSectionFileOffset);
  header.resize(40, '\0');
  image += header;
  image.resize(kSectionFileOffset, '\0');
  return image + section;
}

TEST(PeResources, FindsAStringNamedResourceInBothImageKinds) {
  for (bool plus : {false, true}) {
    std::string image = PeImageWithResources(plus);
    PeResource stub = FindPeResource(image, "KSSHLEXT", "KS_SHL");
    ASSERT_TRUE(stub.found) << plus << " " << stub.error;
    EXPECT_EQ(stub.bytes, kStubBytes);
    EXPECT_TRUE(FindPeResource(image, "ksshlext", "ks_shl").found) << "case ignored";
    EXPECT_EQ(FindPeResource(image, "#3", "#1").bytes, "icon") << "numeric ids";
    for (auto [type, name] : {std::pair{"#3", "#2"}, std::pair{"#1", "#1"}, std::pair{"3", "1"},
                              std::pair{"#3", "#65537"}, std::pair{"#3", "#"}})
      EXPECT_FALSE(FindPeResource(image, type, name).found) << type << "/" << name;
    for (auto [type, name] : {std::pair{"KSSHLEXT", "KS_SH"}, std::pair{"KSSHLEX", "KS_SHL"},
                              std::pair{"KS_SHL", "KSSHLEXT"}}) {
      PeResource missing = FindPeResource(image, type, name);
      EXPECT_FALSE(missing.found) << type << "/" << name;
      EXPECT_EQ(missing.error, std::string("no resource ") + name + " of type " + type);
    }
  }
  EXPECT_EQ(FindPeResource("MZ", "KSSHLEXT", "KS_SHL").error,
            "not a Windows program (no PE header)");
}

// Every cut, and every byte of the headers and the tree set to each of a few values: the
// reader either finds the untouched bytes or reports why not, and never reads outside.
TEST(PeResources, CutAndDamagedImagesAreAnsweredSafely) {
  std::string image = PeImageWithResources(false);
  size_t payload = image.find(kStubBytes);
  for (size_t size = 0; size < image.size(); ++size) {
    PeResource cut = FindPeResource(std::string_view(image).substr(0, size), "KSSHLEXT", "KS_SHL");
    EXPECT_EQ(cut.found, size >= payload + kStubBytes.size()) << size;
    EXPECT_NE(cut.found, !cut.error.empty());
  }
  for (size_t at = 0; at < payload; ++at) {
    for (uint8_t value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
      std::string damaged = image;
      damaged[at] = static_cast<char>(value);
      PeResource found = FindPeResource(damaged, "KSSHLEXT", "KS_SHL");
      if (found.found) {
        EXPECT_LE(found.bytes.size(), damaged.size());
      }
    }
  }
}

// The stub library's image and the manifest that Windows Vista and later read (elevation, the
// Windows versions setup knows, DPI awareness, the Common Controls 6 look), byte for byte.
TEST(PeResources, ReadsWhatTheShippedSetupCarries) {
  auto read = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  std::string setup = read(std::string(KS_PRODUCT_TREE) + "/src/setup/SETUP.EXE");
  std::string stub = read(std::string(KS_PRODUCT_TREE) + "/src/stublib/KSSHLSTB.DLL");
  ASSERT_FALSE(stub.empty());
  PeResource carried = FindPeResource(setup, "KSSHLEXT", "KS_SHL");
  ASSERT_TRUE(carried.found) << carried.error;
  EXPECT_EQ(carried.bytes, stub);

  PeResource manifest = FindPeResource(setup, "#24", "#1");
  ASSERT_TRUE(manifest.found) << manifest.error;
  EXPECT_EQ(manifest.bytes, read(std::string(KS_ROOT) + "/src/resources/setup.manifest"));
}

}  // namespace
