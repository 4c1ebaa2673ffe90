#!/usr/bin/env bash
# Benchmarks of decoding, packing and applying, side by side:
#
#   scripts/bench.sh            full run: a corpus of 300 MB (a few minutes)
#   scripts/bench.sh --quick    the same steps on 4 MB, to keep them working
#
# Builds what it needs in build/bench (Release, no sanitizers), makes a
# deterministic corpus (folder tree and package), then measures:
#   decode  load_entry_into (libdeflate) vs one zlib inflate call vs memcpy,
#           and the compressors at every level (bench/decode_bench.cpp)
#   pack    krvpack on all cores vs one core; package size vs zip -6 / -9
#   write   what filling a file costs through a mapping and by WriteFile,
#           size by size, under Wine (bench/write_methods.cpp)
#   apply   PATCH.EXE under Wine vs two baselines of bench/baseline_apply.cpp,
#           which do only create, map, decode, unmap, close (mapping) or
#           decode into a reused buffer, create, WriteFile, close (WriteFile),
#           runs alternating, on the standard corpus and on one of many small
#           files; peak private bytes of each, sampled in one untimed round
#           before the timed ones. PATCH.EXE applies the package
#           as krvpack writes it (with the checksum section: its integrity
#           check hashes) and the same entries without the section (the check
#           inflates every stream once more). On the standard corpus also:
#           the mapping baseline with the updater's backup and folder steps,
#           PATCH.EXE with /quiet (no window; on both corpora),
#           PATCH.EXE built without its check, and the check alone (timed
#           inside baseline_apply --check), with and without the section.
# and prints the figures (bench/summarize.py); they stay in
# build/bench/results-MODE/. A figure is never a pass or a fail: the script
# fails only when a step breaks (a build, a decode that does not give the
# file back, an apply that does not end in success or leaves other files).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

mode=full
for arg in "$@"; do
  case "$arg" in
    --quick) mode=quick ;;
    *) echo "usage: scripts/bench.sh [--quick]" >&2; exit 2 ;;
  esac
done
if [ "$mode" = quick ]; then
  corpus_mb=4; max_file_mb=1; min_time=0.05; sample_mb=2; apply_runs=1; pack_runs=1
  small_files=400; write_mb=0.25; settle_seconds=0
else
  corpus_mb=300; max_file_mb=32; min_time=2; sample_mb=16; apply_runs=5; pack_runs=2
  small_files=20000; write_mb=16; settle_seconds=61
fi
bench="$root/build/bench"
corpus="$bench/corpus-$mode"
results="$bench/results-$mode"
mkdir -p "$bench" "$results"
rm -f "$results"/*.txt "$results"/*.json
load_before="$(LC_ALL=C uptime | sed 's/.*load/load/')"
echo "bench: $mode run on $(nproc) cores; $load_before"

# --- builds -----------------------------------------------------------------
"$root/scripts/build-mingw-libraries.sh"
# Configured every time from the presets, so that changed options apply.
cmake --preset bench-native >/dev/null
ninja -C "$bench/native" -j2 make_corpus decode_bench krvpack >/dev/null
cmake --preset bench-windows >/dev/null
ninja -C "$bench/windows" -j2 PATCH.EXE bench/PATCH_UNCHECKED.EXE baseline_apply apply_timer write_methods >/dev/null

# --- corpus -----------------------------------------------------------------
# Made again only when its generator, the writer or the size changed.
make_corpus() {  # folder, then make_corpus's size arguments
  local dir=$1 stamp
  shift
  stamp="$(cat bench/corpus.cpp bench/make_corpus.cpp src/package_writer/*.cpp \
           src/package_writer/*.h | sha256sum | cut -c1-16)-$*"
  if [ "$(cat "$dir/stamp" 2>/dev/null)" != "$stamp" ]; then
    rm -rf "$dir"
    mkdir -p "$dir"
    "$bench/native/bench/make_corpus" "$dir" "$@" > "$dir/summary.txt"
    echo "$stamp" > "$dir/stamp"
  fi
}
small_corpus="$bench/corpus-small-$mode"
make_corpus "$corpus" "$corpus_mb" "$max_file_mb"
make_corpus "$small_corpus" small "$small_files"
cat "$corpus/summary.txt"
echo "small-file corpus: $(head -n 3 "$small_corpus/summary.txt" | awk '{f += $3; b += $5} END {print f " files, " b " bytes"}'), $(tail -n 1 "$small_corpus/summary.txt" | sed 's/corpus //')"
echo

# --- decode -----------------------------------------------------------------
echo "bench: decode"
"$bench/native/bench/decode_bench" --benchmark_min_time="$min_time" \
  --benchmark_out="$results/decode.json" --benchmark_out_format=json \
  "$corpus/package.krv" "$corpus/tree" "$sample_mb" > "$results/decode.log" 2>&1
head -n 1 "$results/decode.log"

# --- pack -------------------------------------------------------------------
echo "bench: pack"
seconds_of() {  # runs "$@", prints the seconds it took
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  python3 -c "print(f'{$end - $start:.3f}')"
}
seconds_and_rss() {  # runs "$@", prints its seconds and its peak resident MB
  python3 - "$@" <<'PY'
import resource, subprocess, sys, time
start = time.time()
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True)
seconds = time.time() - start
peak_kib = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
print(f"{seconds:.3f} {peak_kib / 1024:.1f}")
PY
}
cat > "$corpus/manifest.toml" <<'EOF'
level = 1
source = "tree"

[registry]
key = "Software\\KorvindaBench"
EOF
for run in $(seq "$pack_runs"); do
  for jobs in 1 0; do
    kind=$([ "$jobs" = 1 ] && echo krvpack_j1 || echo krvpack_all_cores)
    out="$corpus/krvpack-j$jobs.krv"
    read -r s rss < <(seconds_and_rss "$bench/native/krvpack" build "$corpus/manifest.toml" \
                        -o "$out" -j "$jobs")
    echo "kind=$kind seconds=$s bytes=$(stat -c %s "$out") peak_rss_mb=$rss" >> "$results/pack.txt"
  done
done
cmp -s "$corpus/krvpack-j1.krv" "$corpus/krvpack-j0.krv" ||
  { echo "bench: krvpack gave different packages on one and on all cores" >&2; exit 1; }
"$bench/native/krvpack" verify "$corpus/krvpack-j0.krv" >/dev/null
for level in 6 9; do
  rm -f "$corpus/tree-$level.zip"
  s=$(cd "$corpus/tree" && seconds_of zip -q -r "-$level" "../tree-$level.zip" .)
  echo "kind=zip_$level seconds=$s bytes=$(stat -c %s "$corpus/tree-$level.zip")" >> "$results/pack.txt"
done

# --- apply ------------------------------------------------------------------
echo "bench: apply"
export WINEPREFIX="$bench/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
  LANG=ru_RU.UTF-8 WINEARCH=win64
xvfb_pid=""
trash="$bench/trash"  # finished installations, moved aside (below)
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$trash"
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
# A display number of its own: Xvfb picks a free one and tells it.
exec {display_fd}<> <(:)
Xvfb -displayfd "$display_fd" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
if ! read -r -t 20 display_number <&"$display_fd"; then
  echo "bench: Xvfb did not start" >&2
  exit 1
fi
exec {display_fd}>&-
export DISPLAY=":$display_number"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wine wineboot -i >/dev/null 2>&1
fi
# One wineserver (and one desktop process) for every run: otherwise it ends
# a few seconds after each run, and the next run pays for starting Wine.
# Only a server started here can be made persistent: the one a new prefix's
# wineboot started is let end first.
wineserver -w
wineserver -p
wine reg add 'HKLM\Software\KorvindaBench' /v ProgramPath /t REG_SZ /d 'C:\bench_install' \
  /f /reg:32 >/dev/null 2>&1
wine reg add 'HKLM\Software\KorvindaBench' /v ProgramName /t REG_SZ /d app.exe \
  /f /reg:32 >/dev/null 2>&1

install="$WINEPREFIX/drive_c/bench_install"
windows_path() { echo "Z:$(echo "$1" | tr / '\\')"; }
timer_w="$(windows_path "$bench/windows/bench/apply_timer.exe")"
patch_w="$(windows_path "$bench/windows/PATCH.EXE")"
baseline_w="$(windows_path "$bench/windows/bench/baseline_apply.exe")"
unchecked_w="$(windows_path "$bench/windows/bench/PATCH_UNCHECKED.EXE")"

echo "bench: write methods"
wine "$(windows_path "$bench/windows/bench/write_methods.exe")" 'C:\bench_write' "$write_mb" |
  tr -d '\r' > "$results/write.txt"
rm -rf "$WINEPREFIX/drive_c/bench_write" "$install"

# A finished run's installation is moved aside, not deleted. ext4 without a
# journal (this machine's root) skips, for every new file, each inode deleted
# in the last minute (six while its block is unwritten): a run just after
# deleting thousands of files took up to three times as long, by a different
# amount each time. The folders moved aside are deleted when the free space
# runs low, and the runs then wait that minute out (not in a quick run,
# which only keeps the steps working). With too little space for two
# installations, each is deleted at once.
declare -A tree_bytes=()
empty_trash() {
  rm -rf "$trash"
  mkdir -p "$trash"
  sync
  sleep "$settle_seconds"
}
has_room() {  # corpus tree: room for one more installation of it, and 2 GiB
  local free
  free=$(df --output=avail -B1 "$trash" | tail -n 1)
  [ "$free" -ge $((tree_bytes[$1] + 2 * 1024 * 1024 * 1024)) ]
}
fresh_install() {  # the corpus tree the run writes
  local tree=$1
  if [ -z "${tree_bytes[$tree]:-}" ]; then tree_bytes[$tree]=$(du -sb "$tree" | cut -f1); fi
  if [ -d "$install" ]; then
    if ! has_room "$tree" && [ "$(ls "$trash" | wc -l)" -gt 1 ]; then empty_trash; fi
    if has_room "$tree"; then mv "$install" "$trash/$(date +%s%N)"; else rm -rf "$install"; fi
  fi
  mkdir -p "$install"
  echo app > "$install/app.exe"
  sync  # earlier runs' writes are not flushed on this run's time
}
# The timer, its report on stdout. Wine's error messages, and whatever the
# timed program writes to stderr, go to timer.err, shown when a run fails.
run_timer() {
  WINEDEBUG=-all,err+all wine "$timer_w" "$@" 2> "$results/timer.err" | tr -d '\r'
}
# Timed runs go without the memory sampler: reading /proc every 10 ms costs
# PATCH.EXE, with its extra threads and window, more than the baselines. The
# peaks come from one untimed round of their own (memory.txt).
sampled_run() {  # the program sampled, then the timer's arguments
  local program=$1 sampler="" status=0
  shift
  if [ "$round" = memory ]; then
    rm -f "$results/memory.tmp"
    python3 bench/sample_memory.py "$program" "$results/memory.tmp" >/dev/null &
    sampler=$!
  fi
  run_timer "$@" || status=$?
  if [ -n "$sampler" ]; then
    kill "$sampler" 2>/dev/null || true
    wait "$sampler" || true
  fi
  return "$status"
}
# A run whose timer gave no report at all (Wine did not get it going: once in
# a CI run, on a new prefix) is made once more; any run that reports a
# failure fails the benchmark.
apply_once() {  # corpus folder, kind, the program timed, then the timer's arguments
  local tree=$1/tree kind=$2 program=$3 output attempt
  shift 3
  for attempt in 1 2; do
    fresh_install "$tree"
    if output=$(sampled_run "$program" "$@"); then break; fi
    if [ -n "$output" ] || [ "$attempt" = 2 ]; then
      echo "bench: $kind apply failed: $output $(cat "$results/timer.err")" >&2
      exit 1
    fi
    echo "bench: $kind: the timer gave no report; once more. $(cat "$results/timer.err")" >&2
  done
  if [ "$round" = memory ]; then
    # A run shorter than the sampler's start leaves no figure.
    echo "kind=$kind $(cat "$results/memory.tmp" 2>/dev/null)" >> "$results/memory.txt"
  else
    echo "kind=$kind $(echo "$output" | tr '\n' ' ')" >> "$results/apply.txt"
  fi
  rm -f "$install/app.exe" "$results/memory.tmp"
  diff -r -q "$install" "$tree" >/dev/null ||
    { echo "bench: $kind left an installation that differs from the corpus" >&2; exit 1; }
}
check_once() {  # kind, package: PATCH.EXE's integrity check alone, nothing written
  local kind=$1 package=$2 output
  if ! output=$(run_timer "$baseline_w" --check "$(windows_path "$package")"); then
    echo "bench: $kind failed: $output $(cat "$results/timer.err")" >&2
    exit 1
  fi
  echo "kind=$kind $(echo "$output" | tr '\n' ' ')" >> "$results/apply.txt"
}
apply_corpus() {  # corpus folder, name prefix, extra kinds ("more")
  local dir=$1 prefix=$2 extra=${3:-} package_w round
  package_w="$(windows_path "$dir/package.krv")"
  # The memory round first, untimed: every timed run then follows a run of
  # the same corpus.
  for round in memory $(seq "$apply_runs"); do
    apply_once "$dir" "${prefix}baseline" "$baseline_w" "$baseline_w" "$package_w" \
      'C:\bench_install\'
    apply_once "$dir" "${prefix}baseline_write" "$baseline_w" "$baseline_w" --write \
      "$package_w" 'C:\bench_install\'
    if [ -n "$extra" ]; then
      apply_once "$dir" "${prefix}baseline_file_steps" "$baseline_w" "$baseline_w" --file-steps \
        "$package_w" 'C:\bench_install\'
    fi
    # The package as krvpack writes it, with the checksum section; then one
    # from another writer, without it.
    apply_once "$dir" "${prefix}patch_checksums" "$patch_w" --clear-value \
      'Software\KorvindaBench' PatchLevel --window "$patch_w" \
      "$(windows_path "$dir/package-checksums.krv")"
    apply_once "$dir" "${prefix}patch" "$patch_w" --clear-value 'Software\KorvindaBench' \
      PatchLevel --window "$patch_w" "$package_w"
    # Without its window: what the window costs (timed to the process's end).
    apply_once "$dir" "${prefix}patch_quiet" "$patch_w" --clear-value \
      'Software\KorvindaBench' PatchLevel "$patch_w" /quiet \
      "$(windows_path "$dir/package-checksums.krv")"
    if [ -n "$extra" ]; then
      apply_once "$dir" "${prefix}patch_unchecked" "$unchecked_w" --clear-value \
        'Software\KorvindaBench' PatchLevel --window "$unchecked_w" \
        "$(windows_path "$dir/package-checksums.krv")"
      if [ "$round" != memory ]; then
        check_once "${prefix}check_checksums" "$dir/package-checksums.krv"
        check_once "${prefix}check_streams" "$dir/package.krv"
      fi
    fi
  done
}
# Deletions of earlier steps (or an earlier run) out of the way first.
empty_trash
# One untimed round first: a new prefix's first window takes seconds.
round=warmup
apply_once "$corpus" warmup_baseline "$baseline_w" "$baseline_w" \
  "$(windows_path "$corpus/package.krv")" 'C:\bench_install\'
apply_once "$corpus" warmup_patch "$patch_w" --clear-value 'Software\KorvindaBench' PatchLevel \
  --window "$patch_w" "$(windows_path "$corpus/package.krv")"
apply_corpus "$corpus" "" more
echo "bench: apply, small files"
apply_corpus "$small_corpus" small_
rm -rf "$install"

load_after="$(LC_ALL=C uptime | sed 's/.*load/load/')"
{
  echo "Machine: $(nproc) cores, $(date -u '+%Y-%m-%d %H:%M UTC'), $mode run"
  echo "  before: $load_before"
  echo "  after:  $load_after"
  echo
  cat "$corpus/summary.txt"
  echo
  python3 bench/summarize.py "$results"
} | tee "$results/summary.txt"
