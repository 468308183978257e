#!/usr/bin/env bash
# Installs the Debian packages a target needs: linux, windows or all
# (fuzz: what tests/fuzz needs, apart from those).
set -euo pipefail
want=${1:-all}
linux_build="build-essential cmake ninja-build ccache pkg-config libwebkit2gtk-4.1-dev libgtk-3-dev libcurl4-openssl-dev nlohmann-json3-dev googletest"
linux_run="libarchive-tools xvfb imagemagick x11-utils"
# Tests compare our archives with other tools', and make their own TLS certificates.
linux_test="zip unzip python3 openssl"
windows="g++-mingw-w64-x86-64-posix wine64 wine fonts-wine xvfb"
# tests/fuzz: libFuzzer and the sanitizers' runtimes; not part of CI.
fuzz="clang-14 libclang-rt-14-dev pkg-config libglib2.0-dev python3"
case "$want" in
  linux) pkgs="$linux_build $linux_run" ;;
  windows) pkgs="$linux_build $windows" ;;
  all) pkgs="$linux_build $linux_run $linux_test $windows" ;;
  fuzz) pkgs="$fuzz" ;;
  *) echo "usage: $0 [linux|windows|all|fuzz]" >&2; exit 2 ;;
esac
if [ "$want" != linux ] && [ "$want" != fuzz ] && ! command -v dotnet >/dev/null 2>&1; then
  echo "The Windows build fetches the WebView2 SDK with the .NET SDK, and the 'dotnet' command is missing." >&2
  echo "Install the .NET SDK (version 8 or newer) and run this again." >&2
  exit 1
fi
missing=$(dpkg-query -W -f='${Package} ${Status}\n' $pkgs 2>/dev/null | awk '$4 != "installed" {print $1}' || true)
# dpkg-query says nothing for packages it has never heard of.
for p in $pkgs; do dpkg-query -W "$p" >/dev/null 2>&1 || missing="$missing $p"; done
missing=$(echo $missing | tr ' ' '\n' | sort -u | tr '\n' ' ')
if [ -n "${missing// /}" ]; then
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends $missing
fi
