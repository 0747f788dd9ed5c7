#include "platform/image_file.h"

#include <stb_image.h>

namespace korvel {

bool LoadImageRGBA(const std::string& path, std::vector<std::uint8_t>& pixels, int& width, int& height) {
    int w = 0;
    int h = 0;
    int channels = 0;
    stbi_uc* data = stbi_load(path.c_str(), &w, &h, &channels, 4);
    if (data == nullptr) return false;
    if (w <= 0 || h <= 0) {
        stbi_image_free(data);
        return false;
    }
    pixels.assign(data, data + static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
    stbi_image_free(data);
    width = w;
    height = h;
    return true;
}

}  // namespace korvel
