// What the nv tools' tests share: block files from one start, command lines split at blanks and
// pictures read back by libpng.
#pragma once

#include <png.h>

#include "nv24_writer.h"

#include <cstdint>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace nvtest {

constexpr std::uint32_t may_1 = 1462060800;  // 2016-05-01 00:00:00 UTC
constexpr std::int64_t may_1_us = may_1 * 1000000LL;

// A block file of station (1: kiruna) from may_1 + nanoseconds, the channels of gains 1, 2, ...:
// frames of sample(i, c), taken as 32-bit.
template <typename Sample>
std::string block_file(unsigned channels, double rate, size_t frames, Sample sample,
                       std::uint32_t nanoseconds = 0, std::uint8_t station = 1) {
    nv24w::File file = nv24w::make_file(channels, rate, may_1, nanoseconds);
    file.header.station = station;
    for (unsigned c = 0; c < channels; ++c)
        file.channels[c].gain = static_cast<std::uint16_t>(c + 1);
    for (size_t i = 0; i < frames; ++i)
        for (unsigned c = 0; c < channels; ++c)
            file.samples.push_back(
                static_cast<std::uint32_t>(static_cast<std::int32_t>(sample(i, c))));
    return nv24w::encode(file);
}

inline std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// All zero when the file is not a whole PNG. trace_pixels: pixels of the traces' colour
// #1f4e9c; panels: bands of pixel rows holding its blue (maybe blended; greys have none).
struct Picture {
    unsigned width = 0, height = 0;
    size_t trace_pixels = 0;
    int panels = 0;
};

inline Picture read_picture(const std::filesystem::path& file) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, file.c_str()) == 0)
        return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> pixels(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) == 0)
        return {};
    Picture picture{image.width, image.height, 0, 0};
    bool in_band = false;
    for (size_t row = 0; row < image.height; ++row) {
        bool traced = false;
        for (size_t p = row * image.width * 3; p < (row + 1) * image.width * 3; p += 3) {
            traced = traced || pixels[p + 2] > pixels[p] + 30;
            picture.trace_pixels +=
                pixels[p] == 0x1f && pixels[p + 1] == 0x4e && pixels[p + 2] == 0x9c;
        }
        picture.panels += traced && !in_band;
        in_band = traced;
    }
    return picture;
}

}  // namespace nvtest
