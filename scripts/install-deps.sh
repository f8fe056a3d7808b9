#!/usr/bin/env bash
# Installs what building and testing Brevomat needs on Debian 12 (run as root or with sudo).
set -euo pipefail
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
# An index that one mirror cannot deliver for a moment (say, of the i386 architecture that the
# Windows tests add for wine32) must not stop the packages that the others deliver.
$SUDO apt-get update -qq || echo "apt-get update failed for some index; going on with what it has"
$SUDO apt-get install -y -qq --no-install-recommends \
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format \
  libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev libssl-dev libpugixml-dev nlohmann-json3-dev \
  help2man lintian ccache \
  qt6-base-dev libgl1-mesa-dev xvfb xauth x11-utils openbox >/dev/null
