#!/usr/bin/env bash
# Fuzzes the model readers the plug-in uses, natively under AddressSanitizer,
# UndefinedBehaviorSanitizer and libFuzzer (see fuzz/import_target.cpp).
#   scripts/run-fuzz.sh [READER|all] [SECONDS]
#   scripts/run-fuzz.sh regressions
# READER is one of: obj ply stl dae gltf glb x fbx 3ds (default all); SECONDS is
# each target's time (default 60). Builds what it needs (scripts/build-fuzz-deps.sh
# and the targets), keeps every target's corpus, findings and log in a cache
# outside the clone (VORNAK_FUZZ_CACHE, default ~/.cache/vornak-fuzz) so a later
# run goes on from where this one stopped, and prints per target: executions,
# coverage, crashes, hangs (over 10 s on one input) and inputs that took the
# process over 2 GB. "regressions" runs every input in fuzz/regressions once
# (named <reader>-<what>.<ext>) and prints what each does. Not part of the
# test command.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
READERS=(obj ply stl dae gltf glb x fbx 3ds)
reader=${1:-all}
seconds=${2:-60}
replay=0
if [[ "$reader" == all ]]; then
  selected=("${READERS[@]}")
elif [[ "$reader" == regressions ]]; then
  replay=1
  selected=()
  for f in "$root"/fuzz/regressions/*; do
    r=$(basename "$f"); r=${r%%-*}
    [[ " ${selected[*]} " == *" $r "* ]] || selected+=("$r")
  done
elif [[ " ${READERS[*]} " == *" $reader "* ]]; then
  selected=("$reader")
else
  echo "run-fuzz: unknown reader '$reader' (one of: ${READERS[*]} all regressions)" >&2
  exit 2
fi

prefix=$(bash "$here/build-fuzz-deps.sh")
cache_root=${VORNAK_FUZZ_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vornak-fuzz}

# The plug-in's own import flags, so the targets run the same post-processing.
flags=$(sed -n 's/^constexpr unsigned kImportFlags = \(0x[0-9A-Fa-f]*\);.*/\1/p' "$root/src/renderer/model.cpp")
if [[ -z "$flags" ]]; then
  echo "run-fuzz: kImportFlags not found in src/renderer/model.cpp" >&2
  exit 1
fi

cxxflags="-std=c++17 -g -O1 -DNDEBUG -fno-omit-frame-pointer -fsanitize=address,undefined,fuzzer"
key=$( { echo "$prefix $flags $cxxflags"; cat "$root/fuzz/import_target.cpp"; } | sha256sum | cut -c1-16)
bin="$cache_root/targets-$key"
mkdir -p "$bin"
for r in "${selected[@]}"; do
  [[ -x "$bin/import-$r" ]] && continue
  echo "run-fuzz: building the $r target" >&2
  clang++-14 $cxxflags -DFUZZ_EXTENSION="\"$r\"" -DFUZZ_IMPORT_FLAGS="$flags" -I"$prefix/include" \
    "$root/fuzz/import_target.cpp" "$prefix/lib/libassimp.a" -lz -o "$bin/import-$r.tmp"
  mv "$bin/import-$r.tmp" "$bin/import-$r"
done

# Leaks are not looked for: the plug-in's risk is a crash or a hang of the game.
export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:suppressions=$root/fuzz/ubsan.supp

# What one saved input does when run alone: the sanitizer's first line and
# the first frame in Assimp's or the target's code, for a crash; hangs and
# memory overruns are named by their file.
classify() {
  case $(basename "$2") in
    timeout-*) echo "hang"; return ;;
    oom-*) echo "over 2 GB"; return ;;
  esac
  local report what where
  [[ -x "$bin/import-$1" ]] || { echo "not run: no $1 target"; return; }
  report=$("$bin/import-$1" -timeout=10 -rss_limit_mb=2048 "$2" 2>&1 || true)
  what=$(grep -m1 -E 'ERROR: AddressSanitizer|runtime error|ERROR: libFuzzer|import_target:' <<<"$report" |
    sed -E 's/^==[0-9]+== ?//; s/^[^ ]*: runtime error/runtime error/; s/ on address .*//' | cut -c1-110 || true)
  where=$(grep -m1 -E '^ +#[0-9]+ .* in .*(assimp-5|import_target)' <<<"$report" |
    sed -E 's/.* in ([^ (]*).* ([^ ]*\/)?([^/ ]+:[0-9]+)(:[0-9]+)?$/\1 \3/' | cut -c1-110 || true)
  if [[ -z "$what$where" ]]; then echo "no fault"; else echo "$what | $where"; fi
}

if [[ $replay -eq 1 ]]; then
  for f in "$root"/fuzz/regressions/*; do
    r=$(basename "$f"); r=${r%%-*}
    echo "$(basename "$f"): $(classify "$r" "$f")"
  done
  exit 0
fi

summary=()
for r in "${selected[@]}"; do
  corpus="$cache_root/corpus/$r"
  findings="$cache_root/findings/$r"
  log="$cache_root/logs/$r.log"
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  if [[ -z "$(ls -A "$corpus")" ]]; then
    python3 "$root/fuzz/make-seeds.py" "$cache_root/seeds" "$r"
    cp "$cache_root/seeds/$r"/* "$corpus/"
  fi
  dict=()
  dict_file="$root/fuzz/dict/${r/glb/gltf}.dict"  # binary glTF shares the JSON's words
  [[ -f "$dict_file" ]] && dict=(-dict="$dict_file")
  before=$(ls "$findings" | wc -l)
  echo "run-fuzz: $r for ${seconds}s (log: $log)" >&2
  # One worker process, restarted after a crash, hang or memory overrun so
  # that the time is used to the end; each finding is saved to $findings.
  (cd "$findings" && "$bin/import-$r" "$corpus" "${dict[@]}" -fork=1 -ignore_crashes=1 \
    -ignore_timeouts=1 -ignore_ooms=1 -timeout=10 -rss_limit_mb=2048 -max_total_time="$seconds" \
    -artifact_prefix="$findings/" -print_final_stats=1) >"$log" 2>&1 || true
  last=$(grep -E '^#[0-9]+: cov:' "$log" | tail -1)
  execs=$(sed -E 's/^#([0-9]+):.*/\1/' <<<"$last")
  cov=$(sed -E 's/.* cov: ([0-9]+).*/\1/' <<<"$last")
  read -r oom hang crash < <(sed -E 's#.*oom/timeout/crash: ([0-9]+)/([0-9]+)/([0-9]+).*#\1 \2 \3#' <<<"$last")
  summary+=("$(printf '%-5s executions %-9s coverage %-6s crashes %-4s hangs %-4s over-2GB %-4s corpus %s' \
    "$r" "${execs:-?}" "${cov:-?}" "${crash:-?}" "${hang:-?}" "${oom:-?}" "$(ls "$corpus" | wc -l)")")
  after=$(ls "$findings" | wc -l)
  if [[ $after -gt $before ]]; then
    for f in $(ls -t "$findings" | head -n $((after - before))); do
      summary+=("      new finding $findings/$f: $(classify "$r" "$findings/$f")")
    done
  fi
done
printf '%s\n' "${summary[@]}"
