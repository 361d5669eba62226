# The Debian packages the project builds, tests and runs with; sourced by
# scripts/test and scripts/run.
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev      # build, sanitizers, libFuzzer
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev  # the windows
  qt6-multimedia-dev                                  # the warning tone (QAudioSink)
  pkg-config libavformat-dev libavcodec-dev           # the overlay video: read the clip, decode and encode it,
  libswscale-dev libavutil-dev                        # its frames to RGBA and back (video/)
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good  # the Video window plays the clip through Qt Multimedia's GStreamer
  gstreamer1.0-libav                                  # back end; libav decodes the cameras' H.264 and AAC in .mp4
  libgstreamer1.0-dev                                 # asks GStreamer for those plugins first: Qt 6.4 crashes without them
  fonts-liberation fonts-texgyre                      # Arial and Century Gothic look-alikes
  fontconfig xvfb xauth x11-utils                     # a display for scripts/run on a server; xprop for the title test
  openbox                                             # a window manager on that display, for the program's figures (scripts/on-desktop)
  locales                                             # a comma-decimal locale for the CSV tests
  desktop-file-utils appstream                        # scripts/check-install validates the launcher and metainfo
  dpkg-dev                                            # cpack -G DEB works out the package's dependencies
)

install_packages() {
  local missing=() p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
  # The CSV number format follows LC_NUMERIC; the tests check a comma locale.
  if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    $sudo sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    $sudo locale-gen >/dev/null
  fi
}
