// Writes 24-bit RGB images as PNG files.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// `rgb` holds width * height pixels, three bytes each, top row first.
bool WritePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);
