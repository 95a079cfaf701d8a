#include "canvas.h"

#include <png.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "common/quoting.h"
#include "noise.h"

namespace {
constexpr int kChannels = 3;                 // red, green, blue
constexpr uint32_t kDitherSeed = 0x5D17E2u;  // fixed: the same offsets in every picture
}  // namespace

void for_each_in_parallel(int count, const std::function<void(int)>& work) {
    std::atomic<int> next{0};
    const auto take = [&] {
        for (int i = next++; i < count; i = next++) work(i);
    };
    const int helpers = std::min<int>(count, std::max(1u, std::thread::hardware_concurrency())) - 1;
    std::vector<std::thread> threads;
    for (int t = 0; t < helpers; ++t) threads.emplace_back(take);
    take();
    for (std::thread& thread : threads) thread.join();
}

Canvas make_canvas(int width, int height) {
    Canvas canvas;
    canvas.width = width;
    canvas.height = height;
    canvas.rgb.assign(static_cast<size_t>(width) * height * kChannels, 0.0f);
    return canvas;
}

Levels mean_levels(const Picture& picture) {
    double sum[kChannels] = {0.0, 0.0, 0.0};
    for (size_t i = 0; i < picture.rgb.size(); ++i) sum[i % kChannels] += picture.rgb[i];
    const double pixels = static_cast<double>(picture.width) * picture.height;
    return {sum[0] / pixels, sum[1] / pixels, sum[2] / pixels};
}

double dither_offset(int x, int y, double dither) {
    return dither * (hash_unit(x, y, kDitherSeed) - 0.5);
}

uint8_t to_level(double value, double offset) {
    const double rounded = std::floor(value + offset + 0.5);
    return static_cast<uint8_t>(rounded < 0.0 ? 0.0 : (rounded > 255.0 ? 255.0 : rounded));
}

Picture finish(const Canvas& canvas, double dither) {
    Picture picture;
    picture.width = canvas.width;
    picture.height = canvas.height;
    picture.rgb.resize(canvas.rgb.size());
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            const double offset = dither_offset(x, y, dither);
            const size_t base = (static_cast<size_t>(y) * canvas.width + x) * kChannels;
            for (int c = 0; c < kChannels; ++c)
                picture.rgb[base + c] = to_level(canvas.rgb[base + c], offset);
        }
    }
    return picture;
}

Outcome write_png(const std::string& path, const Picture& picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(picture.width);
    image.height = static_cast<png_uint_32>(picture.height);
    image.format = PNG_FORMAT_RGB;
    const uint8_t* pixels = picture.rgb.data();
    int channels = kChannels;
    std::vector<uint8_t> rgba;
    if (!picture.alpha.empty()) {
        channels = kChannels + 1;
        rgba.resize(picture.alpha.size() * channels);
        for (size_t i = 0; i < picture.alpha.size(); ++i) {
            for (int c = 0; c < kChannels; ++c)
                rgba[i * channels + c] = picture.rgb[i * kChannels + c];
            rgba[i * channels + kChannels] = picture.alpha[i];
        }
        image.format = PNG_FORMAT_RGBA;
        pixels = rgba.data();
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return failed("cannot write " + quoted(path) + ": " + std::strerror(errno));
    const bool written =
        png_image_write_to_stdio(&image, file, 0, pixels, picture.width * channels, nullptr) != 0;
    // A full disk shows as libpng's "Write Error", or only when the rest is flushed; the
    // system's reason says more.
    const int write_errno = std::ferror(file) ? errno : 0;
    const bool closed = std::fclose(file) == 0;
    const int close_errno = errno;
    if (written && closed && write_errno == 0) return {};
    std::remove(path.c_str());
    const char* why = write_errno != 0 ? std::strerror(write_errno)
                      : !written       ? image.message
                                       : std::strerror(close_errno);
    return failed("cannot write " + quoted(path) + ": " + why);
}

Outcome read_png(const std::string& path, Picture* picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return failed("cannot read " + quoted(path) + ": " + image.message);
    image.format = PNG_FORMAT_RGB;
    picture->width = static_cast<int>(image.width);
    picture->height = static_cast<int>(image.height);
    picture->rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, picture->rgb.data(), 0, nullptr)) {
        png_image_free(&image);
        return failed("cannot read " + quoted(path) + ": " + image.message);
    }
    return {};
}
