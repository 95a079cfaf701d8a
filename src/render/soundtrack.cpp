#include "render/soundtrack.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "audio/convert.h"
#include "common/build_info.h"
#include "common/timeline.h"
#include "render/timeline.h"

Outcome find_soundtrack(const std::string& given, std::string* name) {
    *name = given;
    if (!given.empty()) return {};
    struct stat st;
    for (const char* candidate : {STARGLOBE_SOUNDTRACK_NAME, STARGLOBE_INSTALLED_SOUNDTRACK}) {
        *name = candidate;
        if (stat(candidate, &st) == 0) return {};
    }
    char cwd[PATH_MAX];
    const std::string here = getcwd(cwd, sizeof cwd) ? cwd : "the working folder";
    return failed(std::string("no soundtrack: found no ") + STARGLOBE_SOUNDTRACK_NAME + " in " +
                  here + " nor " + STARGLOBE_INSTALLED_SOUNDTRACK + "; give one with --wav FILE");
}

double music_needed_s(const RenderOptions& options) {
    const Span& span = options.span;
    if (span.frames < 0 && span.seconds < 0.0) return kAllTheMusic;
    // The span over music of any length: where its first frame not rendered starts.
    const RenderPlan plan =
        plan_timeline(options.fps, options.loop_fps, span, kMaxTimelineMs, false);
    return frame_time_ms(plan.music_frames, options.fps) / kMsPerSecond;
}

Outcome load_soundtrack(const std::string& name, double needed_s, const Say& say,
                        Soundtrack* soundtrack) {
    soundtrack->name = name;
    PreparedSoundtrack ready;
    if (Outcome o = prepare_soundtrack(name, needed_s, &soundtrack->scratch, say, &ready); !o)
        return o;
    soundtrack->path = ready.path;
    soundtrack->wav = load_wav(ready.path.c_str());
    switch (soundtrack->wav.status) {
        case WavStatus::ok: return {};
        case WavStatus::interrupted: return interrupted();
        default: break;
    }
    const std::string why = refusal_line(name, ready, soundtrack->wav);
    if (ready.not_audio || ready.converted) return failed(why);
    // Changed since it was looked at: the loader's reason, and the way out where sound is.
    if (!wav_looks_like_audio(soundtrack->wav)) return failed(why);
    return failed(why + "\nconvert it with: " + conversion_advice(name));
}
