#!/usr/bin/env bash
# Set-up for a fresh Debian 12 machine: installs what is missing, builds, then starts Tunegrove ("run"), runs
# every test ("test") or makes the Debian package ("package"). Safe to run again; it only installs packages that
# are not there yet.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-run}
shift || true

# xdg-utils: xdg-mime tells Play and Options which program the desktop opens playlists with.
build_packages=(build-essential cmake pkg-config qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libtag1-dev
                libgl-dev zlib1g-dev xdg-utils libsqlite3-dev libjemalloc-dev)
# poppler-utils: the printing tests read their PDF back with pdfinfo and pdftotext.
# libxml2-utils: the report test checks its XML with xmllint.
# xvfb ... python3-pyatspi: the end-to-end scenarios run the program under Xvfb and openbox, press keys and click
# with xdotool, and find its widgets through the accessibility bus (D-Bus and AT-SPI).
# flac, vorbis-tools, opus-tools, ffmpeg: the encoders and decoders of the FLAC, Ogg Vorbis, Opus and M4A tag tests.
# desktop-file-utils, appstream, man-db: the installed-tree test validates the desktop entry and the AppStream
# data and renders the manual pages.
test_packages=(python3-mutagen util-linux poppler-utils libxml2-utils
               xvfb xauth openbox xdotool dbus-daemon at-spi2-core python3-pyatspi
               flac vorbis-tools opus-tools ffmpeg
               desktop-file-utils appstream man-db)
# dpkg-dev: the package's dependencies (dpkg-shlibdeps) and hardening flags; lintian and the validators check it.
package_packages=(dpkg-dev lintian desktop-file-utils appstream)

packages=("${build_packages[@]}")
[ "$mode" = test ] && packages+=("${test_packages[@]}")
[ "$mode" = package ] && packages+=("${package_packages[@]}")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

jobs=$(nproc 2>/dev/null || echo 2)
[ "$jobs" -gt 2 ] && jobs=2

# One build folder for both modes, configured alike, so nothing is built twice.
configure() { cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON; }

case "$mode" in
  run)
    configure
    cmake --build build -j"$jobs" --target tunegrove tunegrove-cli
    exec ./build/src/tunegrove "$@"
    ;;
  test)
    configure
    cmake --build build -j"$jobs"
    cd build
    ctest --output-on-failure -j"$jobs" "$@"
    ;;
  package)
    # A build of its own with Debian's hardening flags (build/deb), so the test build is not rebuilt; the
    # package lands in build/.
    flags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
    cmake -S . -B build/deb -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_CXX_FLAGS="$flags" \
          -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
    cmake --build build/deb -j"$jobs" --target tunegrove tunegrove-cli packaging_files
    (cd build/deb && cpack -G DEB -B "$PWD/..")
    deb=$(ls -t build/tunegrove_*.deb | head -n 1)
    echo "Checking $deb"
    lintian --fail-on error "$deb"
    tree=$(mktemp -d)
    dpkg-deb -x "$deb" "$tree"
    desktop-file-validate "$tree"/usr/share/applications/*.desktop
    appstreamcli validate --no-net "$tree"/usr/share/metainfo/*.metainfo.xml
    rm -rf "$tree"
    echo "Made $deb: install it with  sudo apt install ./$deb"
    ;;
  *)
    echo "usage: scripts/dev.sh run|test|package" >&2
    exit 2
    ;;
esac
