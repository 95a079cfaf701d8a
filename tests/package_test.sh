#!/usr/bin/env bash
# The .deb as a user gets it: lintian, the files it installs, their validators, and the
# launcher unpacked into a temporary root and run with dummy SDL drivers.
# Usage: tests/package_test.sh starglobe_VERSION_ARCH.deb   (made by scripts/make-deb.sh)
set -euo pipefail
deb=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
[[ -f $deb ]] || fail "no package at $deb: build it with scripts/make-deb.sh first"
version=$(dpkg-deb -f "$deb" Version)

lintian --fail-on error --tag-display-limit 0 "$deb"
dpkg-deb -x "$deb" "$work/root"
usr=$work/root/usr
for f in games/starglobe lib/games/starglobe/starglobe bin/starglobe-render \
    share/games/starglobe/tessaloon.wav share/doc/starglobe/copyright \
    share/icons/hicolor/{48x48,64x64,128x128,256x256}/apps/starglobe.png \
    share/icons/hicolor/scalable/apps/starglobe.svg; do
    [[ -f $usr/$f ]] || fail "the package lacks /usr/$f"
done
desktop-file-validate "$usr"/share/applications/*.desktop
appstreamcli validate --no-net "$usr"/share/metainfo/*.metainfo.xml
for page in "$usr"/share/man/man6/starglobe.6.gz "$usr"/share/man/man1/starglobe-render.1.gz; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [[ -z $warnings ]] || fail "$page: $warnings"
done

# Half-second tracks: a WAV in the demo's layout, an MP3, and text that is no audio at all.
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy TMPDIR=$work/tmp
mkdir "$TMPDIR"
sox -n -r 44100 -b 16 -e signed-integer -c 2 "$work/canonical.wav" synth 0.5 sine 440
ffmpeg -v error -f lavfi -i sine=duration=0.5 "$work/song.mp3"
printf 'not a soundtrack, only text long enough for the header checks\n' >"$work/corrupt.wav"

# name | exit status | standard output (glob) | standard error (regular expression) | argument
cases=(
    "canonical|0||^$|$work/canonical.wav"
    "mp3|0||^starglobe: converting .*song.mp3.* with ffmpeg to 16-bit stereo PCM at 44,100 Hz$|$work/song.mp3"
    "corrupt|255|wav is corrupted
Failed to load WAV|^starglobe: .*corrupt.wav' is not audio|$work/corrupt.wav"
    "help|0|Usage: starglobe [[]--gentle[]] [[]FILE[]]*|^$|--help"
    "version|0|starglobe $version|^$|--version"
    "unknown|2||unknown option '--loud'|--loud"
)
for case in "${cases[@]}"; do
    IFS='|' read -r -d '' name _ _ _ arg <<<"$case" || true
    "$usr/games/starglobe" "${arg%$'\n'}" >"$work/$name.out" 2>"$work/$name.err" &
    echo $! >"$work/$name.pid"
done

# The menu entry's gentle action, its command line run below as a desktop runs it.
entry=$usr/share/applications/io.github.starglobe.Starglobe.desktop
action() { sed -n "/^\[Desktop Action gentle\]$/,/^\[/s/^$1=//p" "$entry"; }
[[ $(sed -n 's/^Actions=//p' "$entry") == *gentle\;* && $(action Name) == "Play gentle" ]] ||
    fail "the desktop entry has no \"Play gentle\" action"
read -ra gentle <<<"$(action Exec)"

# With no file, the installed soundtrack plays until stopped: by SIGTERM to the command (as the
# gentle action starts it), and by Ctrl-C as a terminal sends it, to the whole process group.
# Either ends the demo cleanly, and neither prints a word where no terminal is.
playing() {  # the command has become the demo and opened the sound device (a second thread)
    [[ $(readlink "/proc/$1/exe") == "$usr/lib/games/starglobe/starglobe" ]] &&
        (($(ls "/proc/$1/task" | wc -l) > 1))
}
for signal in TERM INT; do
    # A script's background job ignores INT unless told otherwise; a terminal's does not.
    run=("$usr/games/starglobe")
    [[ $signal == TERM ]] && run=("${gentle[@]}")
    PATH=$usr/games:$PATH setsid env --default-signal=INT "${run[@]}" >"$work/stop.out" 2>&1 &
    command=$!
    for ((tries = 0; tries < 300; tries++)); do playing "$command" && break; sleep 0.1; done
    playing "$command" || fail "the demo did not start: $(cat "$work/stop.out")"
    if [[ $signal == INT ]]; then kill -INT -- "-$command"; else kill -TERM "$command"; fi
    status=0 && wait "$command" || status=$?
    want=$((128 + $(kill -l "$signal")))
    [[ $status == "$want" && ! -s $work/stop.out ]] ||
        fail "stopped by $signal: status $status, $(cat "$work/stop.out")"
done

for case in "${cases[@]}"; do
    IFS='|' read -r -d '' name want out err _ <<<"$case" || true
    status=0 && wait "$(cat "$work/$name.pid")" || status=$?
    got=$(cat "$work/$name.out")
    [[ $status == "$want" ]] || fail "$name: status $status, not $want; $got $(cat "$work/$name.err")"
    # shellcheck disable=SC2053 # a pattern on purpose
    [[ $got == $out ]] || fail "$name: printed '$got'"
    [[ $(cat "$work/$name.err") =~ $err ]] || fail "$name: standard error '$(cat "$work/$name.err")'"
done
[[ -z $(ls -A "$TMPDIR") ]] || fail "temporary files left: $(ls -A "$TMPDIR")"
echo "package test passed"
