// Reads one resource out of a Windows PE image (PE32 or PE32+) without Windows: the resource
// directory's three levels (type, name, language) are walked by hand, every offset checked
// against the image, so a damaged or hostile SETUP.EXE gives an answer, never a crash. Also
// where the image's sections end in the file, which is where a package's payload begins.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct PeResource {
  bool found = false;
  std::string bytes;  // the resource's data, when found
  std::string error;  // why not, when not found: "not a PE image", "no such resource" ...
};

// The first language of the resource whose type and name are the given strings (compared as
// the Windows resource functions do, ignoring case); "#N" stands for the numeric id N.
PeResource FindPeResource(std::string_view image, const std::string& type, const std::string& name);

// The file offset where the last section's data ends; nothing (and `error` says why) when the
// image is not a PE image or its section table is damaged.
std::optional<uint64_t> PeSectionsEnd(std::string_view image, std::string& error);
