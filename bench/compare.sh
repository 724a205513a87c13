#!/usr/bin/env bash
# Times qrv-verifier and tarn as whole processes, each workload beside an anchor: the same job
# done by a program a user could write instead, or the least any process can do. A workload and
# its anchor run in one hyperfine invocation, so both see the same machine; the script prints
# both medians, their ratio and both peak RSS, then the figures again as a Markdown table.
#
# Usage: bench/compare.sh [OPTIONS] BIN_DIR      BIN_DIR holds qrv-verifier and tarn (build/bin)
#
#   -w, --work DIR       keep the workloads, anchors and logs in DIR (default: a temporary
#                        folder, removed at the end unless something went wrong)
#   -q, --quick          fewer runs: about a third of the time, a wider spread
#   -o, --only NAMES     only these workloads, comma-separated (the names in the table)
#   -i, --instructions   also count each workload's instructions with valgrind (exact, slower)
#   -h, --help           this text
#
# Needs hyperfine, lua5.4, python3, gcc with the static C library, GNU time at /usr/bin/time
# and timeout; valgrind for --instructions. Installs nothing.
#
# Each workload's output is checked before it is timed; a wrong output is reported and its
# timing skipped. The figures are never judged. Exit status: 0 when every output was right,
# 1 when one was wrong or could not be timed, 2 on bad usage or a missing tool.

set -uo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)

usage() { # usage [STATUS]: the header above, on standard error unless asked for
    if [ "${1:-2}" = 0 ]; then
        sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'
    else
        sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//' >&2
    fi
    exit "${1:-2}"
}

WORK=
QUICK=0
ONLY=
INSTRUCTIONS=0
BIN=
while [ $# -gt 0 ]; do
    case $1 in
        -w|--work) [ $# -ge 2 ] || usage; WORK=$2; shift ;;
        --work=*) WORK=${1#*=} ;;
        -q|--quick) QUICK=1 ;;
        -o|--only) [ $# -ge 2 ] || usage; ONLY=$2; shift ;;
        --only=*) ONLY=${1#*=} ;;
        -i|--instructions) INSTRUCTIONS=1 ;;
        -h|--help) usage 0 ;;
        -*) echo "compare.sh: unknown option $1" >&2; usage ;;
        *) [ -z "$BIN" ] || usage; BIN=$1 ;;
    esac
    shift
done
[ -n "$BIN" ] || usage
WORKLOADS=,startup,decision,flat100k,heal,heal-full,deep50k,self-import,lineage,bigbody,
for name in ${ONLY//,/ }; do
    case $WORKLOADS in *",$name,"*) ;; *) echo "compare.sh: no workload named $name" >&2; exit 2 ;; esac
done
[ -d "$BIN" ] || { echo "compare.sh: no such folder: $BIN" >&2; exit 2; }
BIN=$(cd "$BIN" && pwd)
for tool in qrv-verifier tarn; do
    [ -x "$BIN/$tool" ] || { echo "compare.sh: $BIN/$tool is missing; build the project first" >&2; exit 2; }
done

# ---- tools ------------------------------------------------------------------------------------
missing=()
need() { # need COMMAND DEBIAN_PACKAGE
    command -v "$1" >/dev/null 2>&1 || missing+=("$1 (Debian: apt-get install $2)")
}
need hyperfine hyperfine
need lua5.4 lua5.4
need python3 python3
need gcc gcc
need timeout coreutils
[ -x /usr/bin/time ] || missing+=("GNU time at /usr/bin/time (Debian: apt-get install time)")
[ "$INSTRUCTIONS" = 0 ] || need valgrind valgrind
if [ ${#missing[@]} -gt 0 ]; then
    echo "compare.sh: missing tools:" >&2
    printf '  %s\n' "${missing[@]}" >&2
    exit 2
fi
# The real interpreter, isolated and without site imports: a version manager's shim and the
# site set-up can cost ten times Python's own start, which is not the anchor's job.
PY=$(python3 -c 'import sys; print(sys.executable)') && [ -x "$PY" ] ||
    { echo "compare.sh: python3 does not name its interpreter" >&2; exit 2; }

# ---- work folder, workloads, anchors ----------------------------------------------------------
if [ -z "$WORK" ]; then
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/tarn-compare.XXXXXX") || exit 2
    trap 'if [ $? = 0 ]; then rm -rf "$WORK"; else echo "work folder kept: $WORK" >&2; fi' EXIT
fi
mkdir -p "$WORK/logs" || exit 2
WORK=$(cd "$WORK" && pwd)
LOG=$WORK/logs
rm -f "$LOG"/*

"$PY" -I -S "$HERE/workloads.py" "$WORK" || { echo "compare.sh: writing the workloads failed" >&2; exit 2; }
for anchor in floor reads; do
    gcc -O2 -static -o "$WORK/$anchor" "$HERE/anchors/$anchor.c" 2>"$LOG/gcc-$anchor.txt" || {
        echo "compare.sh: cannot link $anchor.c statically (see $LOG/gcc-$anchor.txt);" \
            "the static C library comes with Debian's libc6-dev" >&2
        exit 2
    }
done
cd "$WORK" || exit 2

# Runs and warm-up runs of each block; ROUNDS blocks of each command (see compare). A
# millisecond command needs many runs for its median to outlast the bursts of other work on a
# shared machine.
ROUNDS=5
if [ "$QUICK" = 1 ]; then
    FAST=(8 2) MID=(2 1) SLOW=(1 1)
else
    FAST=(40 5) MID=(8 1) SLOW=(4 1)
fi

# Commands are strings as hyperfine takes them, paths quoted as the shell quotes them.
q() { printf '%q' "$1"; }
V=$(q "$BIN/qrv-verifier")
T=$(q "$BIN/tarn")
FLOOR=$(q "$WORK/floor")
READS=$(q "$WORK/reads")
LUA="lua5.4 $(q "$HERE/anchors/flat.lua")"
PYTHON="$(q "$PY") -I -S $(q "$HERE/anchors/lineage_report.py")"
# The guard on open imports: 256 MiB of script text.
GUARD_READS=$((268435456 / $(wc -c <bigbody.tarn)))

echo "work folder: $WORK"
echo "machine: $(nproc) cores, $(lscpu 2>/dev/null | sed -n 's/^Model name: *//p' | head -1)," \
    "$(uname -sm), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "tools: $(hyperfine --version), $(lua5.4 -v 2>&1 | cut -d' ' -f1-2), Python $("$PY" -I -S -c \
    'import sys; print(sys.version.split()[0])'), gcc $(gcc -dumpfullversion)"

# ---- measuring ------------------------------------------------------------------------------
FAILED=0
ROWS=()

# run ID EXPECTED_STATUS COMMAND: one run under GNU time; output (both streams) in $LOG/ID.out.
# Sets RSS (peak, MiB) and FAULTS (minor page faults); says why when the exit status is not the
# expected one.
run() {
    local id=$1 want=$2 rc
    local -a argv
    eval "argv=($3)"
    timeout -k 5 300 /usr/bin/time -v -o "$LOG/$id.time" "${argv[@]}" >"$LOG/$id.out" 2>&1
    rc=$?
    RSS=$(awk -F': ' '/Maximum resident set size/ { printf "%.1f", $2 / 1024 }' "$LOG/$id.time" 2>/dev/null)
    FAULTS=$(awk -F': ' '/Minor .* page faults/ { print $2 }' "$LOG/$id.time" 2>/dev/null)
    [ "$rc" = "$want" ] && return 0
    echo "  wrong: $3 exited with $rc, expected $want (output in $LOG/$id.out)"
    return 1
}

# holds ID TEXT: the output of run ID holds TEXT.
holds() {
    grep -qF -- "$2" "$LOG/$1.out" && return 0
    echo "  wrong: the output lacks '$2' (output in $LOG/$1.out)"
    return 1
}

# instructions COMMAND: the instructions one run executes, counted by callgrind.
instructions() {
    local -a argv
    eval "argv=($1)"
    timeout -k 5 600 valgrind --tool=callgrind --callgrind-out-file=/dev/null "${argv[@]}" 2>&1 >/dev/null |
        sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}

# compare NAME RUNS WARMUP COMMAND ANCHOR_NAME ANCHOR: times both in one hyperfine invocation
# and prints the medians, the ratio, and the peak RSS and page faults of the checked runs. The
# two alternate in ROUNDS blocks of RUNS runs each, so that a burst of other work on the machine
# falls on both rather than on one; each median is taken over all the blocks of its command.
compare() {
    local name=$1 runs=$2 warmup=$3 cmd=$4 aname=$5 anchor=$6 round
    local -a pairs=()
    for ((round = 0; round < ROUNDS; round++)); do
        pairs+=(-n "$name" "$cmd" -n "$aname" "$anchor")
    done
    if ! hyperfine -N -i --style none --runs "$runs" --warmup "$warmup" --export-json "$LOG/$name.json" \
            "${pairs[@]}" >"$LOG/$name.hyperfine.txt" 2>&1; then
        echo "  hyperfine failed (see $LOG/$name.hyperfine.txt):"
        tail -3 "$LOG/$name.hyperfine.txt" | sed 's/^/    /'
        FAILED=1
        return
    fi
    local m
    m=$("$PY" -I -S -c '
import json, statistics, sys
times = {}
for r in json.load(open(sys.argv[1]))["results"]:
    times.setdefault(r["command"], []).extend(r["times"])
print(" ".join("%.3f %.3f %.3f" % (statistics.median(t) * 1e3, min(t) * 1e3, max(t) * 1e3)
               for t in (times[sys.argv[2]], times[sys.argv[3]])))
' "$LOG/$name.json" "$name" "$aname") || { echo "  cannot read $LOG/$name.json"; FAILED=1; return; }
    set -- $m
    local ratio count=
    ratio=$(awk -v a="$1" -v b="$4" 'BEGIN { printf "%.3f", a / b }')
    local line='  %-13s median %9.2f ms  [%.2f - %.2f]  peak RSS %5s MiB, %5s page faults\n'
    printf "$line" "$name" "$1" "$2" "$3" "$IMPL_RSS" "$IMPL_FAULTS"
    printf "$line" "$aname" "$4" "$5" "$6" "$ANCHOR_RSS" "$ANCHOR_FAULTS"
    printf '  ratio %s (of the minima %s), %d runs each in %d blocks\n' "$ratio" \
        "$(awk -v a="$2" -v b="$5" 'BEGIN { printf "%.3f", a / b }')" "$((runs * ROUNDS))" "$ROUNDS"
    if [ "$INSTRUCTIONS" = 1 ]; then
        count=$(instructions "$cmd" | awk '{ printf($1 < 1e6 ? "%.3f M" : "%.1f M", $1 / 1e6) }')
        printf '  instructions %s\n' "${count:-(not counted)}"
    fi
    ROWS+=("| $name | $aname | $(printf '%.2f | %.2f' "$1" "$4") | **$ratio** | $IMPL_RSS ($ANCHOR_RSS) |${count:+ $count |}")
}

# workload NAME WHAT: prints the heading, unless --only leaves NAME out.
workload() {
    case ",${ONLY:-$1}," in *",$1,"*) ;; *) return 1 ;; esac
    echo
    echo "== $1: $2"
}

# Each workload: its checked run, its anchor's checked run, then the timing.
if workload startup "qrv-verifier, no arguments (start-up, default check, text report) against the floor"; then
    run startup 0 "$V" && holds startup "Status: OPEN" && IMPL_RSS=$RSS IMPL_FAULTS=$FAULTS &&
        run floor 0 "$FLOOR" && ANCHOR_RSS=$RSS ANCHOR_FAULTS=$FAULTS &&
        compare startup "${FAST[@]}" "$V" floor "$FLOOR" || FAILED=1
fi

if workload decision "one small decision script against the floor"; then
    run decision 0 "$V --script=decision.tarn" && holds decision "Status: OPEN" && IMPL_RSS=$RSS IMPL_FAULTS=$FAULTS &&
        run floor 0 "$FLOOR" && ANCHOR_RSS=$RSS ANCHOR_FAULTS=$FAULTS &&
        compare decision "${FAST[@]}" "$V --script=decision.tarn" floor "$FLOOR" || FAILED=1
fi

if workload flat100k "100000 top-level statements against the same calls in Lua"; then
    run flat100k 0 "$V --script=flat100k.tarn" && holds flat100k "Status: OPEN" && IMPL_RSS=$RSS IMPL_FAULTS=$FAULTS &&
        run flat100k-fuel 0 "$T run flat100k.tarn" && holds flat100k-fuel '"fuel_used": 100000,' &&
        run lua 0 "$LUA flat100k.tarn" && holds lua "Status: OPEN, fuel used 100000," && ANCHOR_RSS=$RSS ANCHOR_FAULTS=$FAULTS &&
        compare flat100k "${MID[@]}" "$V --script=flat100k.tarn" lua "$LUA flat100k.tarn" || FAILED=1
fi

if workload heal "tarn run, 9000 healing blocks on a broken memory (the first heals it), against the floor"; then
    run heal 0 "$T run heal.tarn --corrupt-index=1" && holds heal '"fuel_used": 9011,' && IMPL_RSS=$RSS IMPL_FAULTS=$FAULTS &&
        run floor 0 "$FLOOR" && ANCHOR_RSS=$RSS ANCHOR_FAULTS=$FAULTS &&
        compare heal "${FAST[@]}" "$T run heal.tarn --corrupt-index=1" floor "$FLOOR" || FAILED=1
fi

if workload heal-full "tarn run, break and heal until the fuel is spent, against the floor"; then
    run heal-full 0 "$T run heal_full.tarn" && holds heal-full '"fuel_used": 99996,' && IMPL_RSS=$RSS IMPL_FAULTS=$FAULTS &&
        run floor 0 "$FLOOR" && ANCHOR_RSS=$RSS ANCHOR_FAULTS=$FAULTS &&
        compare heal-full "${FAST[@]}" "$T run heal_full.tarn" floor "$FLOOR" || FAILED=1
fi

if workload deep50k "one statement 50000 blocks deep against the floor"; then
    run deep50k 0 "$V --script=deep50k.tarn" && holds deep50k "Status: OPEN" && IMPL_RSS=$RSS IMPL_FAULTS=$FAULTS &&
        run floor 0 "$FLOOR" && ANCHOR_RSS=$RSS ANCHOR_FAULTS=$FAULTS &&
        compare deep50k "${FAST[@]}" "$V --script=deep50k.tarn" floor "$FLOOR" || FAILED=1
fi

# 50000 imports (two fuel units a level) read the file 50001 times.
if workload self-import "tarn run, a file importing itself until out of fuel, against its reads"; then
    run self-import 1 "$T run self.tarn" && holds self-import "Out of fuel (Gas limit exceeded)" && IMPL_RSS=$RSS IMPL_FAULTS=$FAULTS &&
        run reads 0 "$READS self.tarn 50001" && ANCHOR_RSS=$RSS ANCHOR_FAULTS=$FAULTS &&
        compare self-import "${MID[@]}" "$T run self.tarn" reads "$READS self.tarn 50001" || FAILED=1
fi

if workload lineage "100000 statements and their lineage report against the report by Python"; then
    rm -f out.json out_py.json
    run lineage 0 "$V --script=lineage.tarn" && holds lineage "Status: OPEN" && IMPL_RSS=$RSS IMPL_FAULTS=$FAULTS &&
        run python 0 "$PYTHON out_py.json" && ANCHOR_RSS=$RSS ANCHOR_FAULTS=$FAULTS &&
        if cmp -s out.json out_py.json; then :; else
            echo "  wrong: out.json is missing or differs from Python's out_py.json (in $WORK)"
            false
        fi &&
        compare lineage "${MID[@]}" "$V --script=lineage.tarn" python "$PYTHON out_py.json" || FAILED=1
fi

# A skipped 2000-statement block, then an import of itself, until the open imports' text would
# pass the guard; the anchor reads the file as many times as fit under the guard.
if workload bigbody "tarn run, a large skipped block importing itself up to the guard, against its reads"; then
    run bigbody 1 "$T run bigbody.tarn" && holds bigbody "open imports exceed 256 MiB of script text" &&
        IMPL_RSS=$RSS IMPL_FAULTS=$FAULTS && run reads 0 "$READS bigbody.tarn $GUARD_READS" && ANCHOR_RSS=$RSS ANCHOR_FAULTS=$FAULTS &&
        compare bigbody "${SLOW[@]}" "$T run bigbody.tarn" reads "$READS bigbody.tarn $GUARD_READS" || FAILED=1
fi

echo
echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
if [ "$INSTRUCTIONS" = 1 ]; then
    echo "| Workload | Anchor | Median, ms | Anchor, ms | Ratio | Peak RSS, MiB (anchor) | Instructions |"
    echo "|---|---|---|---|---|---|---|"
else
    echo "| Workload | Anchor | Median, ms | Anchor, ms | Ratio | Peak RSS, MiB (anchor) |"
    echo "|---|---|---|---|---|---|"
fi
[ ${#ROWS[@]} -eq 0 ] || printf '%s\n' "${ROWS[@]}"
[ "$FAILED" = 0 ] || { echo; echo "some workloads gave a wrong output or could not be timed (see above)"; }
exit "$FAILED"
