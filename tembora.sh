#!/usr/bin/env bash
# Tembora: one entry point for newcomers and CI.
#   ./tembora.sh run    install what is missing, build, start the workstation
#   ./tembora.sh test   install, build, run every test (plain, then ASan+UBSan), then the format check
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)

# The one list of Debian packages the build, the program and the tests need.
PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config ccache clang clang-format clang-tidy libclang-rt-14-dev
  # Qt 6 and the QML modules the scene imports
  qt6-base-dev qt6-declarative-dev qt6-multimedia-dev libqt6opengl6-dev libqt6svg6
  qml6-module-qtquick qml6-module-qtquick-window qml6-module-qtqml-workerscript
  qml6-module-qtquick-controls qml6-module-qtquick-templates qml6-module-qtquick-layouts
  qml6-module-qtmultimedia qml6-module-qttest qml-qt6 qml6-module-qtquick-dialogs qml6-module-qt-labs-folderlistmodel
  # audio, MIDI, instruments, files, catalogue
  libpipewire-0.3-dev libasound2-dev libfluidsynth-dev libglib2.0-dev liblilv-dev lv2-dev libsndfile1-dev libsqlite3-dev
  # sound server for the integration tests (a private session, never the user's)
  pipewire pipewire-bin wireplumber dbus pipewire-alsa alsa-utils
  # screenshots, the window played by hand (xdotool), encoders, independent MIDI writers used by the tests
  xvfb xauth imagemagick xdotool ffmpeg python3-mido abcmidi
  # the emoji of the window's buttons and status texts (the default fonts have none)
  fonts-noto-color-emoji
  # style archives (unpacked by the program, built by the tests) and the catalogue read by the tests
  zip unzip sqlite3
  # General MIDI SoundFonts, the fluidsynth command for benchmarks, drum kits
  fluid-soundfont-gm timgm6mb-soundfont fluidsynth avldrums.lv2
  # LV2 plug-ins the host is tested with
  mda-lv2 lv2-examples drumgizmo
  # the PulseAudio interface of the sound server and pactl (microphone tests)
  pipewire-pulse pulseaudio-utils
  # the phone bridge: its QR code, its certificate, and the browser that drives its page in the tests
  python3-qrcode openssl chromium chromium-driver python3-selenium
)

log() { printf '\033[1m== %s\033[0m\n' "$*"; }

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing ${#missing[@]} missing packages: ${missing[*]}"
  local SUDO=()
  [ "$(id -u)" -ne 0 ] && SUDO=(sudo)
  "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# configure_and_build DIR [extra cmake args...]
configure_and_build() {
  local dir=$1; shift
  export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/tembora-ccache}
  # Paths under the checkout hash as relative ones, so clones share the cache.
  export CCACHE_BASEDIR=$ROOT
  # Debug info names the build folder; leaving it out of the hash lets a fresh clone
  # reuse the objects another checkout compiled.
  export CCACHE_NOHASHDIR=1
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$ROOT" -B "$dir" -G Ninja \
      -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
      -DPython3_EXECUTABLE=/usr/bin/python3 "$@"
  fi
  cmake --build "$dir" --parallel "$(nproc)"
}

run_tests() {
  local dir=$1 label=$2
  log "tests ($label)"
  # The PipeWire integration tests run against a private session started here.
  # shellcheck disable=SC1091
  source "$ROOT/scripts/pipewire-session.sh"
  pw_session_start --pulse || log "private PipeWire session could not start; its tests will say so and skip"
  local rc=0
  ctest --test-dir "$dir" --output-on-failure --parallel "$(nproc)" --timeout 600 "${@:3}" || rc=$?
  pw_session_stop
  return $rc
}

format_check() {
  log "format check"
  local files
  files=$(git ls-files '*.cpp' '*.h' | grep -v '^third_party/' || true)
  [ -z "$files" ] && return 0
  # shellcheck disable=SC2086
  clang-format --dry-run --Werror $files
}

case "${1:-}" in
  run)
    install_packages
    configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    exec ./build/tembora
    ;;
  test)
    install_packages
    log "build (RelWithDebInfo)"
    configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    run_tests build "plain"
    log "build (AddressSanitizer + UndefinedBehaviorSanitizer)"
    configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DTMB_SANITIZE=address
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      run_tests build-asan "asan+ubsan" -LE no-sanitizer
    log "build (ThreadSanitizer, threaded tests only)"
    configure_and_build build-tsan -DCMAKE_BUILD_TYPE=Debug -DTMB_SANITIZE=thread
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_tests build-tsan "tsan" -L tsan
    format_check
    log "all tests passed"
    ;;
  *)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
