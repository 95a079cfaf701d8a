#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test through CTest.
# Exits non-zero on any failure.
#
# Usage: ./test.sh [plain] [sanitize] [fuzz] [package] [web]   (none named: all, in order)
#   plain     Release build in build/: the whole suite, the SDL tests a second time against
#             sdl12-compat (unpacked into build/sdl12-compat), and the demo under valgrind
#   sanitize  the whole suite built with AddressSanitizer and UndefinedBehaviorSanitizer, in
#             build-asan/; any report, leaks included, fails its test
#   fuzz      the WAV loader's libFuzzer target for a minute (clang, build-fuzz/); any crash,
#             sanitizer report or leak fails it
#   package   the .deb from scripts/make-deb.sh (build-deb/): lintian, its files, and the
#             starglobe command unpacked from it, run with dummy SDL drivers
#   web       the web page (scripts/build-web.sh, build-web/) in headless Chromium and Firefox,
#             against the native renderer and soundtrack built for it in build-web/native
set -euo pipefail
cd "$(dirname "$0")"

stages=("$@")
[[ ${#stages[@]} -eq 0 ]] && stages=(plain sanitize fuzz package web)
for stage in "${stages[@]}"; do
    case "$stage" in
        plain | sanitize | fuzz | package | web) ;;
        *) echo "unknown stage '$stage' (plain, sanitize, fuzz, package or web)" >&2; exit 2 ;;
    esac
done

scripts/ensure-packages.sh build test tools
jobs=$(nproc)

plain() {
    local compat=""
    if command -v apt-get >/dev/null 2>&1; then
        compat=$(scripts/fetch-sdl12-compat.sh "$PWD/build/sdl12-compat")
    else
        echo "No apt: the SDL tests run against the installed SDL 1.2 only, not sdl12-compat." >&2
    fi
    # Tests on, whatever an earlier ./run.sh left in the cache of the same build tree.
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DSTARGLOBE_WERROR=ON -DSTARGLOBE_TESTS=ON \
        -DSTARGLOBE_SDL12_COMPAT_DIR="$compat"
    cmake --build build -j "$jobs"
    ctest --test-dir build --output-on-failure --no-tests=error -j "$jobs"
}

sanitize() {
    # Programs built here run under these settings at build time (the soundtrack synth) and
    # in the tests, which pass them on to the programs they start. Leak reports from inside
    # system libraries are suppressed by scripts/lsan.supp; see the reasons there.
    export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1
    export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTARGLOBE_WERROR=ON \
        -DSTARGLOBE_TESTS=ON -DSTARGLOBE_SANITIZE=ON
    cmake --build build-asan -j "$jobs"
    ctest --test-dir build-asan --output-on-failure --no-tests=error -j "$jobs"
}

fuzz() {
    cmake -S . -B build-fuzz -DSTARGLOBE_WERROR=ON -DSTARGLOBE_FUZZ=ON \
        -DSTARGLOBE_TESTS=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
    cmake --build build-fuzz -j "$jobs" --target wav_loader_fuzz
    ctest --test-dir build-fuzz --output-on-failure --no-tests=error
}

package() {
    scripts/make-deb.sh build-deb -DSTARGLOBE_PACKAGE_TEST=ON
    ctest --test-dir build-deb --output-on-failure --no-tests=error -L package
}

web() {
    scripts/build-web.sh
    # The frames and bytes the page must match: the renderer and the soundtrack, built natively
    # in a tree of their own, so that the web stage leaves build/ and its settings alone.
    local native=build-web/native
    cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release -DSTARGLOBE_WERROR=ON \
        -DSTARGLOBE_TESTS=OFF >/dev/null
    cmake --build "$native" -j "$jobs" --target starglobe-render soundtrack
    # puppeteer-core drives the installed Chromium and Firefox; installed from the committed
    # lock file, again only when that changes.
    command -v npm >/dev/null 2>&1 || scripts/ensure-packages.sh npm
    local npm_dir=build-web/npm
    if ! cmp -s web/npm/package-lock.json "$npm_dir/package-lock.json" \
        || [[ ! -d $npm_dir/node_modules ]]; then
        mkdir -p "$npm_dir"
        cp web/npm/package.json web/npm/package-lock.json "$npm_dir/"
        (cd "$npm_dir" && npm ci --no-audit --no-fund --ignore-scripts)
    fi
    cmake -S tests/web -B build-web/test -DSTARGLOBE_SITE="$PWD/build-web/site" \
        -DSTARGLOBE_NATIVE_BUILD="$PWD/$native" \
        -DSTARGLOBE_NODE_MODULES="$PWD/$npm_dir/node_modules"
    # Verbose, for the figures the test prints (weight, passes a second, click to first frame).
    ctest --test-dir build-web/test --output-on-failure --no-tests=error --verbose
}

for stage in "${stages[@]}"; do
    echo "=== test.sh: $stage"
    ( "$stage" )
done
