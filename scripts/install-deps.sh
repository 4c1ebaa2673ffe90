#!/usr/bin/env bash
# Installs what building and testing the updater needs on Debian 12, as root.
# Idempotent: packages already present are not fetched again.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev
  libtomlplusplus-dev libcli11-dev nlohmann-json3-dev libdeflate-dev dpkg-dev
  libssl-dev openssl osslsigncode
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  libz-mingw-w64-dev libssl-dev
  wine wine64 xvfb xauth imagemagick locales zip python3
  stress-ng m4
)

# Source packages: the Windows build compiles libdeflate and nettle from
# Debian's source packages (scripts/build-mingw-libraries.sh), since Debian
# ships no mingw build of them; m4 builds nettle's assembly.
deb_src=/etc/apt/sources.list.d/krv-deb-src.sources
need_update=0
if [ ! -f "$deb_src" ]; then
  cat > "$deb_src" <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  need_update=0
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

if [ "$need_update" -eq 1 ]; then
  apt-get update -qq
fi

# Wine picks the Windows code page from the locale: ru_RU.UTF-8 gives 1251,
# en_US.UTF-8 gives 1252 (the tests of a non-Cyrillic Windows).
for loc in ru_RU en_US; do
  if ! locale -a 2>/dev/null | grep -qi "^${loc}\.utf-\?8$"; then
    sed -i "s/^# *\(${loc}.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^${loc}.UTF-8 UTF-8" /etc/locale.gen || echo "${loc}.UTF-8 UTF-8" >> /etc/locale.gen
    locale-gen >/dev/null
  fi
done
