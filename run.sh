#!/usr/bin/env bash
# KIVO: set up, build and run.
#   ./run.sh setup     install what is missing (Debian packages, npm packages into web/)
#   ./run.sh build     setup, then configure and build into build/
#   ./run.sh demo      build, then simulate and monitor a short run
#   ./run.sh test      build, then run every test (C++ through CTest, Node, browser)
#   ./run.sh sanitize  build into build-asan/ with AddressSanitizer + UBSan and run the
#                      tests, less those labelled browser or slow (the fuzzers)
#   ./run.sh bench     build, then run kivo-bench
# Each step is idempotent and prints nothing when there is nothing to do.
set -euo pipefail
cd "$(dirname "$0")"
TOP=$PWD
JOBS=$(nproc)

DEB_PACKAGES=(cmake g++ make pkg-config libgtest-dev libgmock-dev libgsl-dev libopenblas-serial-dev
              libtomlplusplus-dev nlohmann-json3-dev
              libcivetweb-dev libssl-dev openssl libreadline-dev zlib1g-dev clang libclang-rt-14-dev chromium
              fonts-liberation prometheus libsqlite3-dev libpq-dev postgresql)

say() { printf 'run.sh: %s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null; then
    sudo "$@"
  else
    say "root or sudo is needed to install the missing Debian packages:" $(missing_debs)
    exit 1
  fi
}

missing_debs() {
  local p
  for p in "${DEB_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
  # Node.js may come from another packager (it brings its own npm); ask for
  # Debian's only when the commands are absent.
  command -v node >/dev/null || echo nodejs
  command -v npm >/dev/null || echo npm
}

install_debs() {
  local missing
  missing=$(missing_debs)
  [ -z "$missing" ] && return 0
  say "installing Debian packages:" $missing
  as_root apt-get update -qq
  # shellcheck disable=SC2086
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
}

# The web packages (jsroot's jsdom, playwright-core) run on Node.js 20 or later;
# npm would install them on an older one and the display tests would fail later.
node_is_recent() {
  local major
  major=$(node -p 'process.versions.node.split(".")[0]' 2>/dev/null || echo 0)
  [ "$major" -ge 20 ]
}

install_npm() {   # [required]: the steps that follow need the web side
  local stamp=web/node_modules/.package-lock.json
  if ! node_is_recent; then
    local found
    found=$(node --version 2>/dev/null || echo none)
    if [ "${1:-}" = required ]; then
      say "Node.js 20 or later is needed for the web display, snapshots and their tests; found $found"
      exit 1
    fi
    say "Node.js 20 or later is missing (found $found): the web display and snapshots are not set up"
    return 0
  fi
  if [ -f "$stamp" ] && [ "$stamp" -nt web/package.json ] && { [ ! -f web/package-lock.json ] || [ "$stamp" -nt web/package-lock.json ]; }; then
    return 0
  fi
  say "installing npm packages into web/"
  # jsroot's optional native canvas module cannot build offline; SVG output does not need it.
  (cd web && npm install --ignore-scripts --no-audit --no-fund --loglevel=error >/dev/null)
  touch "$stamp"
}

setup() {   # [required]
  install_debs
  install_npm "${1:-}"
}

configure_and_build() {   # build-dir [cmake options...]
  local dir=$1; shift
  mkdir -p "$dir"
  # Configured every time (well under a second when nothing changed): a build
  # tree copied from another checkout, or left by a failed configure, is then
  # refused or repaired instead of silently building stale sources.
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >"$dir/configure.log" 2>&1 \
    || { cat "$dir/configure.log" >&2; say "configure failed"; exit 1; }
  if ! cmake --build "$dir" -j "$JOBS" >"$dir/build.log" 2>&1; then
    grep -E 'error|Error|warning' "$dir/build.log" | head -40 >&2 || true
    say "build failed; full log in $dir/build.log"
    exit 1
  fi
}

build() {   # [required]
  setup "${1:-}"
  configure_and_build build
}

run_tests() {   # build-dir [ctest options...]
  local dir=$1; shift
  ctest --test-dir "$dir" --output-on-failure -j "$JOBS" "$@"
}

case "${1:-}" in
  setup) setup ;;
  build) build ;;
  demo) build required; exec bash "$TOP/tools/demo.sh" ;;
  test) build required; run_tests build ;;
  sanitize)
    setup required
    configure_and_build build-asan -DKIVO_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
    run_tests build-asan -LE 'browser|slow'
    ;;
  bench) build; exec "$TOP/build/bin/kivo-bench" "${@:2}" ;;
  *)
    sed -n '2,10s/^# \{0,1\}//p' "$0"
    [ -n "${1:-}" ] && exit 2
    exit 0
    ;;
esac
