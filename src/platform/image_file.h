#pragma once
// Image files decoded to pixels for textures.
#include <cstdint>
#include <string>
#include <vector>

namespace korvel {

// Decodes an image file (PNG and the other formats stb_image reads) into
// 8-bit RGBA, rows top to bottom, 4 × width bytes per row. False, with the
// outputs untouched, when the file cannot be read or decoded.
bool LoadImageRGBA(const std::string& path, std::vector<std::uint8_t>& pixels, int& width, int& height);

}  // namespace korvel
