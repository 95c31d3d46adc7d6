#!/usr/bin/env bash
# Installs what is missing, builds optimised in a folder of its own, runs the benchmarks and
# prints one table of every figure against its target.
#   scripts/bench.sh                     the idle monitor and service are watched for 60 s each
#   scripts/bench.sh --idle-seconds 10   a quicker run
BUILD_DIR="${BUILD_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build-bench}"
KVARNIX_OPTIMISE="-O2 -g"
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
cmake --build "$BUILD_DIR" --target kvarnix_benchmarks

idle_seconds=60
if [ "${1:-}" = "--idle-seconds" ] && [ -n "${2:-}" ]; then
  idle_seconds="$2"
elif [ $# -gt 0 ]; then
  echo "Användning: $0 [--idle-seconds N]" >&2
  exit 2
fi

results="$(mktemp)"
diagnostics="$(mktemp)"
trap 'rm -f "$results" "$diagnostics"' EXIT

# Five runs of each, the median kept: a moment of other work on the machine does not decide
# a figure.
echo "Kör benchmarkprogrammet i processen ..." >&2
"$BUILD_DIR/bench/kvarnix_bench" \
  --benchmark_filter='SchedulerTick|DisplayRefresh|LaunchWithLog|TrimLog|AppendAndTrim|NextStart' \
  --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_format=csv 2>>"$diagnostics" |
  awk -F, '$1 ~ /_median"$/ { gsub(/"|\/real_time_median/, "", $1); print $1, $3, $4 }' \
    >>"$results" || true

echo "Öppnar loggvisaren på en logg på 500 MB ..." >&2
"$BUILD_DIR/bench/kvarnix_bench_gui" --benchmark_format=csv 2>>"$diagnostics" |
  awk -F, '$1 ~ /real_time"$/ { gsub(/"|\/real_time/, "", $1); print $1, $3, $4 }' \
    >>"$results" || true

echo "Mäter fönstret medan schemaläggaren arbetar ..." >&2
"$BUILD_DIR/bench/kvarnix_bench_window" 2>>"$diagnostics" >>"$results" || true

echo "Startar monitorprogrammet (tomgång i $idle_seconds s) ..." >&2
"$BUILD_DIR/bench/kvarnix_bench_process" --idle-seconds "$idle_seconds" \
  2>>"$diagnostics" >>"$results" || true

echo "Startar tjänsten kvarnixmonitord (tomgång i $idle_seconds s) ..." >&2
"$BUILD_DIR/bench/kvarnix_bench_service" --idle-seconds "$idle_seconds" \
  2>>"$diagnostics" >>"$results" || true

echo "Startar beräkningar med och utan övervakare, och 500 övervakare på en gång ..." >&2
"$BUILD_DIR/bench/kvarnix_bench_supervisor" 2>>"$diagnostics" >>"$results" || true

# A one-node cluster of its own; needs root.
echo "Skickar 200 rader till ett Slurm-kluster medan fönstret visas ..." >&2
"$BUILD_DIR/bench/kvarnix_bench_slurm_window" 2>>"$diagnostics" >>"$results" || true

# Needs about 2 GB free in the temporary folder while it runs.
echo "Trimmar en monitorlogg på 1 GB ..." >&2
"$BUILD_DIR/bench/kvarnix_bench_logtrim" 2>>"$diagnostics" >>"$results" || true

# figure id | text | target | unit
FIGURES="SchedulerTick/1000/0/0|one scheduler tick, 1,000 active rows, none due|5|ms
SchedulerTick/10000/0/0|one scheduler tick, 10,000 active rows, none due|50|ms
SchedulerTick/10000/1000000/0|the same with 1,000,000 runs in the history|50|ms
SchedulerTick/10000/0/500|the same with 500 supervised runs open|50|ms
DisplayRefresh/1000/0/0|one display refresh, 1,000 rows|5|ms
DisplayRefresh/10000/0/0|one display refresh, 10,000 rows|50|ms
DisplayRefresh/10000/1000000/0|the same with 1,000,000 runs in the history|50|ms
DisplayRefresh/10000/0/500|the same with 500 supervised runs open|50|ms
startup_ms|start-up to a shown, filled window, 10,000 rows|1000|ms
idle_cpu_percent|CPU of an idle monitor showing 1,000 rows, over ${idle_seconds} s|1|% of one core
resident_mb|resident memory, 10,000 rows|100|MB
service_idle_cpu_percent|CPU of the idle service, 1,000 rows, over ${idle_seconds} s|0.5|% of one core
service_resident_mb|resident memory of the service, 10,000 rows|30|MB
service_list_ms|kvarnixmonitord --list, 10,000 rows, from start to end|200|ms
LaunchWithLog/nothing_to_drop|one launch, 200,000-line log, nothing old enough to go|50|ms
LaunchWithLog/oldest_day_dropped|one launch, 200,000-line log, oldest day goes|50|ms
TrimLog/nothing_to_drop|first trim of a 200,000-line log, nothing old enough to go|50|ms
AppendAndTrim/nothing_to_drop|append and trim by the kept log object, 200,000-line log, nothing to drop|50|ms
TrimLog/oldest_day_dropped|trim of a 200,000-line log, oldest day goes|50|ms
logtrim_1gb_peak_mb|peak resident memory of the trim of a 1 GB log, oldest day goes|50|MB
NextStart/ordinary_day|next start of 10,000 mixed rows|200|ms
NextStart/hour_repeats|next start of 10,000 mixed rows, in the hour the clock repeats|200|ms
LogViewerOpen|log viewer shown, 500 MB monitor log|500|ms
modal_launch_delay_ms|a due row's start after its minute began, while a modal box is open|1000|ms
batch_loop_block_ms|longest block of the window's event loop while 2,000 rows start|50|ms
history_dialog_ms|run history dialog shown for a row with 100,000 runs|100|ms
launch_added_ms|time a start takes longer with its supervisor (median of 40 side by side)|10|ms
supervisor_pss_mb|proportional set size of one supervisor while its calculation (the simulator) runs beside a monitor|1|MiB
supervisor_alone_pss_mb|the same for a supervisor of /bin/sleep, sharing its libraries with nobody (reported)|-|MiB
supervisors_500_pss_mb|total proportional set size of 500 supervisors at once|500|MiB
slurm_batch_loop_block_ms|longest block of the window's event loop while 200 rows go to Slurm|50|ms"

# Every in-process figure is in milliseconds, wall-clock time with the CPU time beside it: on a
# busy machine the two part. The monitor program's figures carry their unit in the name.
print_table() {
  echo "| figure | target | measured | ok? |"
  echo "|---|---|---|---|"
  echo "$FIGURES" | awk -F'|' -v results="$results" '
    BEGIN {
      while ((getline line < results) > 0) { split(line, f, " "); value[f[1]] = f[2]; cpu[f[1]] = f[3] }
    }
    {
      id = $1; target = $3; unit = $4
      if (!(id in value)) { printf "| %s | ≤ %s %s | missing | NO |\n", $2, target, unit; missing = 1; next }
      measured = sprintf("%.1f %s", value[id], unit)
      if (cpu[id] != "")
        measured = measured sprintf(" (CPU %.1f ms)", cpu[id])
      if (id == "startup_ms")
        measured = measured sprintf(" (%.0f ms from main())", value["startup_from_main_ms"])
      if (id == "launch_added_ms")
        measured = measured sprintf(" (%.1f ms against %.1f ms)", value["launch_supervised_ms"], value["launch_direct_ms"])
      if (id == "logtrim_1gb_peak_mb")
        measured = measured sprintf(" (trimmed in %.1f s)", value["logtrim_1gb_seconds"])
      if (target == "-")
        printf "| %s | - | %s | reported |\n", $2, measured
      else
        printf "| %s | ≤ %s %s | %s | %s |\n", $2, target, unit, measured, (value[id] <= target ? "yes" : "NO")
    }
    END { exit missing }'
}

echo
if ! print_table; then
  echo
  echo "Några värden saknas; benchmarkprogrammen skrev:"
  cat "$diagnostics"
  exit 1
fi
