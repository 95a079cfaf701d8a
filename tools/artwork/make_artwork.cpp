// starglobe-artwork: renders the demo's 45 pictures into assets/, a contact sheet of them
// into docs/ and the application icons into packaging/icons/, all from code. The same
// program gives the same pixels on every run.
//
//   starglobe-artwork SOURCE_DIR               render everything, then the contact sheet
//   starglobe-artwork SOURCE_DIR --sheet-only  remake the contact sheet from assets/ as it is
//
// Prints the mean levels of every picture and fails when a sequence leaves the levels the
// demo's compositor is balanced for.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "canvas.h"
#include "common/quoting.h"
#include "globe.h"
#include "lettering.h"
#include "star_field.h"

namespace {

const std::string kFontDir = STARGLOBE_FONT_DIR;
const std::string kTitleFont = kFontDir + "/DejaVuSans.ttf";
const std::string kCreditFont = kFontDir + "/DejaVuSans.ttf";

// End card.
constexpr const char* kTitle = "starglobe";
constexpr const char* kCredit = "a demo by the starglobe team";
constexpr int kTitleSize = 66;          // px
constexpr double kTitleTracking = 2.0;  // px between letters
constexpr int kCreditSize = 14;         // px
constexpr double kCreditTracking = 1.2;
constexpr int kTitleToCredit = 22;      // px between the title's ink and the credit's
constexpr double kTitleLevel = 255.0;   // white
constexpr double kCreditLevel = 176.0;  // light grey: the title leads
// Coverage is lifted by this gamma so thin strokes keep their weight white on black.
constexpr double kInkGamma = 1.45;

// Level windows per frame (0..255), red, green, blue: the star field within 20% of its
// targets, the globe within the ranges the compositor was balanced for.
constexpr double kStarTolerance = 0.20;
constexpr double kGlobeMin[3] = {7.0, 13.0, 16.0};
constexpr double kGlobeMax[3] = {25.0, 28.0, 26.0};

// Contact sheet: half-size thumbnails on a dark grey board.
constexpr int kThumbScale = 2;
constexpr int kSheetColumns = 6;
constexpr int kSheetGap = 6;      // px between thumbnails
constexpr int kSheetMargin = 14;  // px around everything
constexpr int kLabelSize = 15;    // px
constexpr int kLabelHeight = 30;  // px of a section's heading row
constexpr uint8_t kBoard[3] = {28, 28, 32};
constexpr uint8_t kLabelInk[3] = {210, 210, 215};

std::string two_digits(int n) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02d", n);
    return buffer;
}

void stamp(Canvas& canvas, const Lettering& text, int left, int top, double level) {
    for (int y = 0; y < text.height; ++y) {
        for (int x = 0; x < text.width; ++x) {
            const int cx = left + x, cy = top + y;
            if (cx < 0 || cy < 0 || cx >= canvas.width || cy >= canvas.height) continue;
            const double ink =
                std::pow(text.coverage[static_cast<size_t>(y) * text.width + x], 1.0 / kInkGamma);
            float* p = canvas.at(cx, cy);
            for (int c = 0; c < 3; ++c) p[c] = static_cast<float>(p[c] + (level - p[c]) * ink);
        }
    }
}

Outcome render_end_card(Picture* card) {
    Lettering title, credit;
    if (Outcome set = set_text(kTitleFont, kTitle, kTitleSize, kTitleTracking, &title); !set)
        return set;
    if (Outcome set = set_text(kCreditFont, kCredit, kCreditSize, kCreditTracking, &credit); !set)
        return set;
    Canvas canvas = make_canvas(kArtWidth, kArtHeight);
    // The block of title and credit is centred both ways on its ink.
    const int block = title.height + kTitleToCredit + credit.height;
    const int top = (kArtHeight - block) / 2;
    stamp(canvas, title, (kArtWidth - title.width) / 2, top, kTitleLevel);
    stamp(canvas, credit, (kArtWidth - credit.width) / 2, top + title.height + kTitleToCredit,
          kCreditLevel);
    *card = finish(canvas, 0.0);
    return {};
}

Outcome make_folder(const std::string& dir) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) return failed("cannot create the folder " + quoted(dir) + ": " + error.message());
    return {};
}

Outcome read_whole_file(const std::string& path, std::string* bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return failed("cannot read " + quoted(path) + ": " + std::strerror(errno));
    bytes->clear();
    char block[1 << 16];
    for (size_t n; (n = std::fread(block, 1, sizeof block, file)) > 0;) bytes->append(block, n);
    const int error = std::ferror(file) ? errno : 0;
    std::fclose(file);
    if (error != 0) return failed("cannot read " + quoted(path) + ": " + std::strerror(error));
    return {};
}

Outcome write_whole_file(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return failed("cannot write " + quoted(path) + ": " + std::strerror(errno));
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    int error = written ? 0 : errno;
    if (std::fclose(file) != 0 && error == 0) error = errno;
    if (error == 0) return {};
    std::remove(path.c_str());
    return failed("cannot write " + quoted(path) + ": " + std::strerror(error));
}

// Icons: the globe at the sizes desktops look for, and the largest also wrapped in an SVG,
// since menus and software centres prefer a scalable icon.
constexpr int kIconSizes[] = {48, 64, 128, 256};
constexpr int kSvgIconSize = 256;

std::string base64(const std::string& bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t group = static_cast<uint8_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) group |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) group |= static_cast<uint8_t>(bytes[i + 2]);
        for (size_t k = 0; k < 4; ++k)
            out += i + k <= bytes.size() ? kDigits[(group >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

Outcome write_icons(const std::string& dir) {
    if (Outcome made = make_folder(dir); !made) return made;
    for (int size : kIconSizes)
        if (Outcome written = write_png(dir + "/starglobe-" + std::to_string(size) + ".png",
                                        render_globe_icon(size));
            !written)
            return written;
    std::string bytes;
    const std::string png = dir + "/starglobe-" + std::to_string(kSvgIconSize) + ".png";
    if (Outcome read = read_whole_file(png, &bytes); !read) return read;
    const std::string side = std::to_string(kSvgIconSize);
    std::string svg =
        "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\"";
    svg += " width=\"" + side + "\" height=\"" + side + "\" viewBox=\"0 0 " + side + ' ' + side;
    svg += "\">\n<image width=\"" + side + "\" height=\"" + side;
    svg += "\" xlink:href=\"data:image/png;base64," + base64(bytes) + "\"/>\n</svg>\n";
    return write_whole_file(dir + "/starglobe.svg", svg);
}

bool within(double value, double low, double high) { return value >= low && value <= high; }

bool report_levels(const char* name, const std::vector<Picture>& frames, const double* low,
                   const double* high) {
    bool ok = true;
    double sum[3] = {0.0, 0.0, 0.0};
    for (size_t i = 0; i < frames.size(); ++i) {
        const Levels m = mean_levels(frames[i]);
        const double v[3] = {m.red, m.green, m.blue};
        bool frame_ok = true;
        for (int c = 0; c < 3; ++c) {
            sum[c] += v[c];
            frame_ok = frame_ok && within(v[c], low[c], high[c]);
        }
        std::printf("%s %02zu: red %6.2f green %6.2f blue %6.2f%s\n", name, i, m.red, m.green,
                    m.blue, frame_ok ? "" : "  OUT OF RANGE");
        ok = ok && frame_ok;
    }
    const double n = static_cast<double>(frames.size());
    std::printf("%s mean: red %6.2f green %6.2f blue %6.2f\n", name, sum[0] / n, sum[1] / n,
                sum[2] / n);
    return ok;
}

// The sheet's thumbnails: each picture reduced by box filtering.
void paste_thumbnail(Picture& sheet, const Picture& picture, int left, int top) {
    const int w = picture.width / kThumbScale, h = picture.height / kThumbScale;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int j = 0; j < kThumbScale; ++j)
                    for (int i = 0; i < kThumbScale; ++i)
                        sum +=
                            picture.rgb[(static_cast<size_t>(y * kThumbScale + j) * picture.width +
                                         x * kThumbScale + i) *
                                            3 +
                                        c];
                const int samples = kThumbScale * kThumbScale;
                sheet.rgb[(static_cast<size_t>(top + y) * sheet.width + left + x) * 3 + c] =
                    static_cast<uint8_t>((sum + samples / 2) / samples);
            }
        }
    }
}

void paste_label(Picture& sheet, const Lettering& text, int left, int top) {
    for (int y = 0; y < text.height; ++y) {
        for (int x = 0; x < text.width; ++x) {
            const double ink =
                std::pow(text.coverage[static_cast<size_t>(y) * text.width + x], 1.0 / kInkGamma);
            uint8_t* p = &sheet.rgb[(static_cast<size_t>(top + y) * sheet.width + left + x) * 3];
            for (int c = 0; c < 3; ++c)
                p[c] = static_cast<uint8_t>(std::lround(p[c] + (kLabelInk[c] - p[c]) * ink));
        }
    }
}

struct Section {
    std::string heading;
    std::vector<Picture> pictures;
};

Outcome write_contact_sheet(const std::string& path, const std::vector<Section>& sections) {
    const int thumb_w = kArtWidth / kThumbScale, thumb_h = kArtHeight / kThumbScale;
    int height = kSheetMargin;
    for (const Section& s : sections) {
        const int rows = (static_cast<int>(s.pictures.size()) + kSheetColumns - 1) / kSheetColumns;
        height += kLabelHeight + rows * (thumb_h + kSheetGap);
    }
    height += kSheetMargin - kSheetGap;
    Picture sheet;
    sheet.width = 2 * kSheetMargin + kSheetColumns * thumb_w + (kSheetColumns - 1) * kSheetGap;
    sheet.height = height;
    sheet.rgb.resize(static_cast<size_t>(sheet.width) * sheet.height * 3);
    for (size_t i = 0; i < sheet.rgb.size(); ++i) sheet.rgb[i] = kBoard[i % 3];

    int top = kSheetMargin;
    for (const Section& s : sections) {
        Lettering label;
        if (Outcome set = set_text(kCreditFont, s.heading, kLabelSize, 0.5, &label); !set)
            return set;
        paste_label(sheet, label, kSheetMargin, top + (kLabelHeight - label.height) / 2 - 3);
        top += kLabelHeight;
        for (size_t i = 0; i < s.pictures.size(); ++i) {
            const int col = static_cast<int>(i) % kSheetColumns,
                      row = static_cast<int>(i) / kSheetColumns;
            paste_thumbnail(sheet, s.pictures[i], kSheetMargin + col * (thumb_w + kSheetGap),
                            top + row * (thumb_h + kSheetGap));
        }
        const int rows = (static_cast<int>(s.pictures.size()) + kSheetColumns - 1) / kSheetColumns;
        top += rows * (thumb_h + kSheetGap);
    }
    return write_png(path, sheet);
}

Outcome read_sequence(const std::string& dir, int count, std::vector<Picture>* out) {
    for (int i = 0; i < count; ++i) {
        Picture p;
        if (Outcome read = read_png(dir + "/" + two_digits(i) + ".png", &p); !read) return read;
        out->push_back(p);
    }
    return {};
}

Outcome write_sequence(const std::string& dir, const std::vector<Picture>& frames) {
    if (Outcome made = make_folder(dir); !made) return made;
    for (size_t i = 0; i < frames.size(); ++i)
        if (Outcome written =
                write_png(dir + "/" + two_digits(static_cast<int>(i)) + ".png", frames[i]);
            !written)
            return written;
    return {};
}

// Reads the committed pictures back, for a contact sheet of them as they are.
Outcome read_artwork(const std::string& assets, std::vector<Picture>* stars,
                     std::vector<Picture>* globe, Picture* card) {
    if (Outcome read = read_sequence(assets + "/stars", kStarFieldFrames, stars); !read)
        return read;
    if (Outcome read = read_sequence(assets + "/globe", kGlobeFrames, globe); !read) return read;
    return read_png(assets + "/end_card.png", card);
}

// Renders every picture and writes it, with the icons; `levels_ok` says whether the sequences
// kept their level windows (reported on standard output either way).
Outcome render_artwork(const std::string& root, std::vector<Picture>* stars,
                       std::vector<Picture>* globe, Picture* card, bool* levels_ok) {
    if (Outcome rendered = render_star_field(stars); !rendered) return rendered;
    *globe = render_globe();
    if (Outcome rendered = render_end_card(card); !rendered) return rendered;
    const double targets[3] = {kStarMeanRed, kStarMeanGreen, kStarMeanBlue};
    double low[3], high[3];
    for (int c = 0; c < 3; ++c) {
        low[c] = targets[c] * (1.0 - kStarTolerance);
        high[c] = targets[c] * (1.0 + kStarTolerance);
    }
    *levels_ok = report_levels("stars", *stars, low, high);
    *levels_ok = report_levels("globe", *globe, kGlobeMin, kGlobeMax) && *levels_ok;
    const std::string assets = root + "/assets";
    if (Outcome written = write_sequence(assets + "/stars", *stars); !written) return written;
    if (Outcome written = write_sequence(assets + "/globe", *globe); !written) return written;
    if (Outcome written = write_png(assets + "/end_card.png", *card); !written) return written;
    return write_icons(root + "/packaging/icons");
}

}  // namespace

int main(int argc, char** argv) {
    const bool sheet_only = argc == 3 && std::strcmp(argv[2], "--sheet-only") == 0;
    if (argc != 2 && !sheet_only) {
        std::fprintf(stderr, "usage: %s SOURCE_DIR [--sheet-only]\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    const auto fail = [](const Outcome& outcome) {
        std::fprintf(stderr, "%s\n", outcome.message.c_str());
        return 1;
    };

    std::vector<Picture> stars, globe;
    Picture card;
    bool levels_ok = true;
    if (Outcome made = sheet_only ? read_artwork(root + "/assets", &stars, &globe, &card)
                                  : render_artwork(root, &stars, &globe, &card, &levels_ok);
        !made)
        return fail(made);
    const std::vector<Section> sections = {
        {"star field: frames 00 to 23, 200 ms each, in rows from the top left", stars},
        {"globe: frames 00 to 19, 100 ms each", globe},
        {"end card", {card}}};
    Outcome sheet = make_folder(root + "/docs");
    if (sheet) sheet = write_contact_sheet(root + "/docs/contact-sheet.png", sections);
    if (!sheet) return fail(sheet);
    if (!levels_ok) {
        std::fprintf(stderr, "some pictures are outside their level windows\n");
        return 1;
    }
    return 0;
}
