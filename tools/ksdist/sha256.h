// SHA-256 (FIPS 180-4) of a file, for the line of `ksdist verify` that lets a release engineer
// compare a distribution's SETUP.EXE with the published build.
#pragma once
#include <optional>
#include <string>

// The digest of the file's bytes as 64 lowercase hex digits, as sha256sum prints it; nothing
// when the file cannot be read.
std::optional<std::string> Sha256OfFile(const std::string& path);
