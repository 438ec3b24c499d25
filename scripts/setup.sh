#!/usr/bin/env bash
# Installs the Debian packages Corvale builds with (README.md says why each is there).
# Does nothing when every one is present, so the other scripts call it on every run.
set -euo pipefail

PACKAGES=(
  build-essential
  cmake
  ninja-build
  libgtest-dev
  libbenchmark-dev
  nlohmann-json3-dev
  libfmt-dev
  qt6-base-dev
  qt6-base-dev-tools
  libqt6svg6
  libqscintilla2-qt6-dev
  qt6-serialport-dev
  qt6-translations-l10n
  nasm
  libcapstone-dev
  fonts-wqy-microhei
)

missing=()
for package in "${PACKAGES[@]}"; do
  status="$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)"
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
((${#missing[@]} == 0)) && exit 0

if ((EUID == 0)); then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "setup.sh: installing ${missing[*]} needs root, and sudo is not available" >&2
  exit 1
fi

echo "setup.sh: installing ${missing[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y --no-install-recommends "${missing[@]}"
