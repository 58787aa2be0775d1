#!/usr/bin/env bash
# Installs what the build needs and is missing: Debian packages (12 or 13), then the venv.
set -euo pipefail
cd "$(dirname "$0")/.."
VENV=${VENV:-.venv}
PYTHON=${PYTHON:-python3}

codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
case "$codename" in
  bookworm) boost=libboost1.81-dev; clangrt=libclang-rt-14-dev ;;
  *)        boost=libboost-dev;     clangrt=libclang-rt-dev ;;
esac
pkgs=("$boost" libtbb-dev libpolyclipping-dev nlohmann-json3-dev libgtest-dev clang "$clangrt")
missing=()
# Debian's own python3 ships venv and ensurepip separately.
"$PYTHON" -c "import venv, ensurepip" 2>/dev/null || missing+=(python3-venv)
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing Debian packages: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

stamp="$VENV/.requirements-installed"
if [ ! -x "$VENV/bin/python" ]; then
  "$PYTHON" -m venv "$VENV"
fi
if [ ! -f "$stamp" ] || [ requirements-dev.txt -nt "$stamp" ]; then
  "$VENV/bin/pip" install -q --upgrade pip
  "$VENV/bin/pip" install -q -r requirements-dev.txt
  touch "$stamp"
fi
