#include "render/render_outputs.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <iterator>
#include <utility>

#include <strings.h>

#include "common/picture.h"
#include "common/stop_signal.h"
#include "render/png_writer.h"

namespace {

// PNG frames are named frame00000.png, frame00001.png, ...: at least five digits, so a folder
// listing sorts them in order up to 99,999 frames (27 minutes at 60 frames per second).
constexpr const char* kPngNameFormat = "frame%05" PRId64 ".png";
constexpr const char* kControlsHeader =
    "frame,elapsed_ms,flash,pulse,invert,noise_range,noise_offset,ring_length,star,globe\n";

std::string write_failure(const Sink& sink, int error) {
    if (error == EPIPE && sink.target.way == OutputWay::to_stdout) return kReaderGone;
    return "cannot write " + sink.name + ": " + std::strerror(error);
}

// "frames/", "frames//" and "frames" are one folder; "./" is ".".
std::string without_trailing_slashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// "30000/1001" or "29.97", as given.
std::string rate_text(const FrameRate& rate) {
    if (rate.ratio) return std::to_string(rate.num) + "/" + std::to_string(rate.den);
    char text[32];
    std::snprintf(text, sizeof text, "%g", rate.value);
    return text;
}

// The file name without its folders.
std::string base_name(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool is_svg(const std::string& path) {
    return path.size() >= 4 && strcasecmp(path.c_str() + path.size() - 4, ".svg") == 0;
}

std::string open_file(const std::string& path, Sink* sink) {
    std::string error = output_begin(path, OutputShape::file_or_stdout, &sink->target);
    if (!error.empty()) return error;
    sink->file = sink->target.way == OutputWay::to_stdout
                     ? stdout
                     : std::fopen(sink->target.write_path.c_str(), "wbe");
    if (!sink->file) return write_failure(*sink, errno);
    if (sink->kind == SinkKind::controls && std::fputs(kControlsHeader, sink->file) < 0)
        return write_failure(*sink, errno);
    return "";
}

std::string open_sink(SinkKind kind, const std::string& path, const RenderOptions& options,
                      const RenderPlan& plan, const Soundtrack& soundtrack, Outputs* outputs) {
    outputs->sinks.emplace_back();
    Sink* sink = &outputs->sinks.back();
    sink->kind = kind;
    sink->name = output_name(path);
    switch (kind) {
        case SinkKind::controls:
        case SinkKind::raw: return open_file(path, sink);
        case SinkKind::video: {
            VideoSettings video;
            video.container = video_container(path);
            video.audio_path = soundtrack.path;
            video.rate_num = options.fps.num;
            video.rate_den = options.fps.den;
            video.frames = plan.music_frames + plan.card_frames;
            video.width = outputs->framing.width;
            video.height = outputs->framing.height;
            video.crf = options.crf;
            video.preset = options.preset;
            // Without ffmpeg, video_open only says what to install; nothing has been made yet.
            if (find_on_path(kFfmpegProgram).empty()) return video_open(video, &sink->video);
            std::string error = output_begin(path, OutputShape::file, &sink->target);
            if (!error.empty()) return error;
            video.output_path = sink->target.write_path;
            video.seekable = sink->target.way == OutputWay::replaced;
            return video_open(video, &sink->video);
        }
        case SinkKind::png:
            sink->name = without_trailing_slashes(path);
            return output_begin(sink->name, OutputShape::folder, &sink->target);
        case SinkKind::plot: {
            if (find_on_path(kGnuplotProgram).empty())
                return std::string("--plot needs ") + kGnuplotProgram +
                       ", which is not installed (not found on PATH): install the Debian "
                       "package " + kGnuplotPackage + " (apt-get install " + kGnuplotPackage +
                       ")";
            const FrameRate& rate = plan.pass_rate;
            sink->plot = plot_start(soundtrack.track, frame_time_ms(plan.passes, rate),
                                    frame_time_ms(1, rate),
                                    base_name(soundtrack.path) + ": what drives the picture, " +
                                        rate_text(rate) + " analyses a second");
            return output_begin(path, OutputShape::file, &sink->target);
        }
    }
    return "";
}

// Closes a sink's file (standard output is only flushed), reporting any earlier buffered write
// that failed.
std::string close_file(Sink* sink) {
    if (!sink->file) return "";
    const bool failed = std::ferror(sink->file) != 0;
    const int failed_errno = errno;
    const bool close_failed =
        sink->file == stdout ? std::fflush(stdout) != 0 : std::fclose(sink->file) != 0;
    sink->file = nullptr;
    if (close_failed) return write_failure(*sink, errno);
    return failed ? write_failure(*sink, failed_errno) : "";
}

// Completes one sink's writing (not yet moving it into place).
std::string complete_sink(Sink* sink) {
    switch (sink->kind) {
        case SinkKind::controls:
        case SinkKind::raw: return close_file(sink);
        case SinkKind::video: return video_close(&sink->video, sink->name);
        case SinkKind::png: return "";
        case SinkKind::plot:
            return plot_write(sink->plot, sink->target.write_path, is_svg(sink->name),
                              sink->name);
    }
    return "";
}

}  // namespace

bool needs_pixels(const RenderOptions& options) {
    return !options.raw_path.empty() || shows_frames(options);
}

bool shows_frames(const RenderOptions& options) {
    return !options.video_path.empty() || !options.png_dir.empty();
}

std::string outputs_open(const RenderOptions& options, const RenderPlan& plan,
                         const Soundtrack& soundtrack, Outputs* outputs) {
    outputs->framing = output_framing(options);
    const std::pair<SinkKind, const std::string*> wanted[] = {
        {SinkKind::video, &options.video_path},      {SinkKind::plot, &options.plot_path},
        {SinkKind::png, &options.png_dir},           {SinkKind::controls, &options.controls_path},
        {SinkKind::raw, &options.raw_path}};
    outputs->sinks.reserve(std::size(wanted));
    for (const auto& [kind, path] : wanted) {
        if (path->empty()) continue;
        const std::string error = open_sink(kind, *path, options, plan, soundtrack, outputs);
        if (!error.empty()) {
            outputs_abandon(outputs);
            return error;
        }
    }
    const Framing& f = outputs->framing;
    if (shows_frames(options) && (f.scale != 1 || f.width != kImageWidth))
        outputs->framed.assign(static_cast<size_t>(f.width) * f.height * kImageBytesPerPixel, 0);
    return "";
}

std::string outputs_pass(Outputs* outputs, const RenderedPass& pass) {
    for (Sink& sink : outputs->sinks) {
        switch (sink.kind) {
            case SinkKind::controls: {
                const FrameControls& c = pass.made.controls;
                if (std::fprintf(sink.file, "%" PRId64 ",%.3f,%d,%d,%d,%d,%d,%d,%d,%d\n",
                                 pass.index, pass.elapsed_ms, c.flash, c.pulse, c.invert ? 1 : 0,
                                 c.noise_range, c.noise_offset, c.ring_length, pass.made.star_index,
                                 pass.made.globe_index) < 0)
                    return write_failure(sink, errno);
                break;
            }
            case SinkKind::raw:
                if (std::fwrite(pass.pixels, 1, kImageBytes, sink.file) != kImageBytes)
                    return write_failure(sink, errno);
                break;
            case SinkKind::plot: plot_add(&sink.plot, pass.elapsed_ms, pass.made.controls); break;
            case SinkKind::video:
            case SinkKind::png: break;
        }
    }
    return "";
}

std::string outputs_frame(Outputs* outputs, int64_t frame, const uint8_t* picture,
                          bool same_as_before) {
    const Framing& f = outputs->framing;
    const uint8_t* shown = picture;
    if (!outputs->framed.empty()) {
        if (!same_as_before) frame_picture(picture, f, outputs->framed.data());
        shown = outputs->framed.data();
    }
    const size_t bytes = static_cast<size_t>(f.width) * f.height * kImageBytesPerPixel;
    for (Sink& sink : outputs->sinks) {
        std::string error;
        if (sink.kind == SinkKind::video) {
            error = video_write(&sink.video, shown, bytes, sink.name);
        } else if (sink.kind == SinkKind::png) {
            char name[32];
            std::snprintf(name, sizeof name, kPngNameFormat, frame);
            error = write_png_file(sink.target.write_path + "/" + name, shown, f.width, f.height);
            // Named as the user will look for it, not by the temporary folder.
            if (!error.empty())
                error = "cannot write " + sink.name + "/" + name +
                        error.substr(error.find(name) + std::strlen(name));
        }
        if (!error.empty()) return error;
    }
    return "";
}

std::string outputs_finish(Outputs* outputs) {
    std::string error;
    for (Sink& sink : outputs->sinks) {
        const std::string next = complete_sink(&sink);
        if (error.empty()) error = next;
    }
    // A Ctrl-C while a helper was finishing still means "stop": nothing is put in place.
    if (error.empty() && stop_signal() != 0) error = kInterrupted;
    for (Sink& sink : outputs->sinks)
        if (error.empty()) error = output_commit(&sink.target);
    if (!error.empty()) outputs_abandon(outputs);
    return error;
}

void outputs_abandon(Outputs* outputs) {
    for (Sink& sink : outputs->sinks) {
        video_kill(&sink.video);
        close_file(&sink);
        output_abandon(&sink.target);
    }
}

void frame_picture(const uint8_t* picture, const Framing& f, uint8_t* out) {
    const size_t out_pitch = static_cast<size_t>(f.width) * kImageBytesPerPixel;
    const size_t row_bytes = static_cast<size_t>(kImageWidth) * f.scale * kImageBytesPerPixel;
    for (int32_t y = 0; y < kImageHeight; ++y) {
        uint8_t* row = out + (static_cast<size_t>(f.y) + static_cast<size_t>(y) * f.scale) *
                                 out_pitch + static_cast<size_t>(f.x) * kImageBytesPerPixel;
        const uint8_t* in = picture + static_cast<size_t>(y) * kImagePitch;
        uint8_t* at = row;
        for (int32_t x = 0; x < kImageWidth; ++x, in += kImageBytesPerPixel)
            for (int32_t r = 0; r < f.scale; ++r, at += kImageBytesPerPixel)
                std::memcpy(at, in, kImageBytesPerPixel);
        for (int32_t r = 1; r < f.scale; ++r) std::memcpy(row + r * out_pitch, row, row_bytes);
    }
}
