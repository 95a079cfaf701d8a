#include "render/output_plot.h"


#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/quoting.h"
#include "system/child_process.h"

namespace {

// The most of gnuplot's picture kept: far more than any plot it draws for us (a few hundred
// KiB), and whole pages.
constexpr size_t kMostPlotBytes = size_t{64} << 20;

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

bool is_svg(const std::string& path) { return ends_with(path, ".svg"); }

// Writes `bytes` to the output's temporary, checking every step.
Outcome write_whole(const PlotOutput& out, const std::string& bytes) {
    FILE* file = std::fopen(out.target.write_path.c_str(), "wbe");
    if (!file) return write_failure(false, out.name, errno);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const int write_errno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written) return write_failure(false, out.name, write_errno);
    if (!closed) return write_failure(false, out.name, errno);
    return {};
}

}  // namespace

Outcome plot_take(const char* option, const std::string& value) {
    if (ends_with(value, ".png") || is_svg(value)) return {};
    return failed(std::string(option) + " wants a name ending in .png or .svg, not " +
                  quoted(value));
}

Outcome output_open(PlotOutput* out, const std::string& path, const RunInfo& run) {
    out->name = output_name(path);
    if (find_on_path(kGnuplotProgram).empty())
        return failed(std::string("--plot needs ") + kGnuplotProgram +
                      ", which is not installed (not found on PATH): install the Debian package " +
                      kGnuplotPackage + " (apt-get install " + kGnuplotPackage + ")");
    const RenderPlan& plan = run.plan;
    out->svg = is_svg(path);
    out->title = base_name(run.soundtrack.name) + ": what drives the picture, " +
                 rate_text(plan.pass_rate) + " analyses a second";
    const double first_ms = frame_time_ms(plan.first_pass, plan.pass_rate);
    out->plot = plot_start(run.soundtrack.wav.track, frame_time_ms(plan.passes, plan.pass_rate),
                           frame_time_ms(1, plan.pass_rate), first_ms);
    return output_begin(path, OutputShape::file, &out->target);
}

Outcome output_pass(PlotOutput* out, const PassView& pass) {
    plot_add(&out->plot, pass.elapsed_ms, pass.made.controls);
    return {};
}

Outcome output_complete(PlotOutput* out) {
    ChildProcess gnuplot;
    ChildOptions options;
    options.input = ChildInput::text;
    options.text = plot_script(out->plot, out->svg);
    options.output = ChildOutput::capture;
    options.most_output = kMostPlotBytes;
    // The script arrives as a file in memory on gnuplot's standard input; the title as its
    // first argument, data that no quote or newline in it can turn into a command.
    if (Outcome started =
            child_start({kGnuplotProgram, "-c", "/dev/stdin", out->title}, options, &gnuplot);
        !started)
        return failed("--plot: " + started.message);
    const ChildEnd end = child_wait(&gnuplot);
    if (end.fate == ChildFate::interrupted) return interrupted();
    if (end.output_cut)
        return failed("cannot draw " + quoted(out->name) + ": gnuplot's picture ran past " +
                      std::to_string(kMostPlotBytes >> 20) + " MiB");
    if (!end.ok() || end.output.empty()) {
        const std::string last_line = end.last_log_line();
        return failed("cannot draw " + quoted(out->name) + ": gnuplot failed (" +
                      child_status(end) + ")" + (last_line.empty() ? "" : ": " + last_line));
    }
    return write_whole(*out, end.output);
}
