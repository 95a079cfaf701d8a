#include "render/soundtrack.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "audio/convert.h"
#include "common/build_info.h"

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

Outcome load_soundtrack(const std::string& name, const Say& say, Soundtrack* soundtrack) {
    soundtrack->name = name;
    PreparedSoundtrack ready;
    if (Outcome o = prepare_soundtrack(name, &soundtrack->scratch, say, &ready); !o) return o;
    soundtrack->path = ready.path;
    soundtrack->wav = load_wav(ready.path.c_str());
    switch (soundtrack->wav.status) {
        case WavStatus::ok: return {};
        case WavStatus::interrupted: return interrupted();
        default: break;
    }
    if (ready.not_audio)
        return failed(name + ": not audio ffmpeg can read: " + describe_wav(soundtrack->wav));
    if (ready.converted)
        return failed(name + ": ffmpeg's copy of it was refused: " + describe_wav(soundtrack->wav));
    // Changed since it was looked at: the loader's reason, and the way out where sound is.
    const std::string why = name + ": " + describe_wav(soundtrack->wav);
    if (!wav_looks_like_audio(soundtrack->wav)) return failed(why);
    return failed(why + "\nconvert it with: " + conversion_advice(name));
}
