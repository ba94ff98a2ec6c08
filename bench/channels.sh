#!/usr/bin/env bash
# Channel load benchmark: N H.264 1080p25 channels of the driver (with alarm I/O and motion
# polling) in one host process against a separately started camera simulator, then N FFmpeg
# and N GStreamer clients on the same stream; prints one table of CPU, memory, threads, file
# descriptors, lost frames and latency, and the targets. Each client runs with RTP over UDP and
# with RTP interleaved on the RTSP connection (TCP) side by side (--transports picks).
# Usage: bench/channels.sh [--seconds S] [--counts 1,8,32,64] [--build-dir DIR] [--no-build]
#                          [--pause-fuzzers] [--perf N] [--library SO] [--host-only] [--aligned]
#                          [--transports udp,tcp]
# The simulated cameras start their frame clocks at spread phases, as independent cameras do;
# --aligned makes every session send its frames at the same instants (the worst case).
# Loopback only; every process it starts is bounded in time and killed at the end.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=30
counts=1,8,32,64
build=$root/build
make=1
pause_fuzzers=0
perf_n=0
library=()
peers=(ffmpeg gstreamer)
phases=(--spread-phases)
transports=udp,tcp
while (($#)); do
    case $1 in
        --seconds) seconds=$2; shift 2 ;;
        --counts) counts=$2; shift 2 ;;
        --build-dir) build=$2; shift 2 ;;
        --no-build) make=0; shift ;;
        --pause-fuzzers) pause_fuzzers=1; shift ;;
        --perf) perf_n=$2; shift 2 ;;
        --library) library=(--library "$2"); shift 2 ;;
        --host-only) peers=(); shift ;;
        --aligned) phases=(); shift ;;
        --transports) transports=$2; shift 2 ;;
        *) echo "usage: $0 [--seconds S] [--counts 1,8,32,64] [--build-dir DIR] [--no-build] [--pause-fuzzers] [--perf N] [--library SO] [--host-only] [--aligned] [--transports udp,tcp]" >&2; exit 2 ;;
    esac
done
[[ $seconds =~ ^[0-9]+$ ]] && ((seconds >= 1 && seconds <= 600)) || { echo "--seconds: 1 to 600" >&2; exit 2; }
IFS=, read -r -a ns <<< "$counts"
IFS=, read -r -a ts <<< "$transports"
for t in "${ts[@]}"; do
    [[ $t == udp || $t == tcp ]] || { echo "--transports: udp and/or tcp" >&2; exit 2; }
done
for n in "${ns[@]}"; do
    [[ $n =~ ^[0-9]+$ ]] && ((n >= 1 && n <= 64)) || { echo "--counts: 1 to 64 each" >&2; exit 2; }
done

if ((make)); then
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$root")} CCACHE_DIR=${CCACHE_DIR:-$(dirname "$root")/.ccache}
    launcher=()
    command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" > /dev/null
    cmake --build "$build" -j2 --target Tavrin tavrin-camsim bench_channel_load > /dev/null
fi
"$root/scripts/make-media.sh" "$build/media"

out=$(mktemp -d /tmp/tavrin-channels.XXXXXX)
grace=15           # host: start-up and stragglers beyond the streaming time
peer_grace=5       # peers: seconds after the streaming time before SIGINT (start-up under load)
frames=$((25 * seconds))
budget=$((${#ns[@]} * ${#ts[@]} * (3 * seconds + grace + 2 * peer_grace + 60) + 60))

pids=()
paused=()
cleanup() {
    local pid
    for pid in "${paused[@]}"; do kill -CONT "$pid" 2> /dev/null || true; done
    for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
    for pid in "${pids[@]}"; do timeout 5 tail --pid="$pid" -f /dev/null 2> /dev/null || kill -9 "$pid" 2> /dev/null || true; done
}
trap cleanup EXIT
trap 'exit 130' INT TERM
# A shared machine: fuzzers (processes named fuzz_*) may be stopped for the measurement; the
# same processes are continued on every exit.
if ((pause_fuzzers)); then
    mapfile -t paused < <(pgrep '^fuzz_' || true)
    for pid in "${paused[@]}"; do kill -STOP "$pid" 2> /dev/null || true; done
    echo "paused ${#paused[@]} fuzzer processes" >&2
fi

# The simulator: every session sends exactly $frames frames, then stays quiet, so each client
# has a known number of frames to receive. It stops by itself after the whole budget.
"$build/tools/tavrin-camsim" --media "$build/media" --h264-media h264_1080p25.264 --family25 \
    --session-frames "$frames" --send-stamps "${phases[@]}" --seconds "$budget" > "$out/camsim.log" 2>&1 &
sim=$!
pids+=("$sim")
for _ in $(seq 100); do grep -q '^camera ' "$out/camsim.log" && break; sleep 0.1; done
banner=$(grep -m1 '^camera ' "$out/camsim.log") || { echo "the simulator did not start" >&2; cat "$out/camsim.log" >&2; exit 1; }
http_port=$(sed -E 's|.*http://127\.0\.0\.1:([0-9]+)/.*|\1|' <<< "$banner")
url=$(sed -E 's|.*RTSP (rtsp://[^ ]+) and .*|\1|' <<< "$banner")
rtsp_port=$(sed -E 's|rtsp://127\.0\.0\.1:([0-9]+)/.*|\1|' <<< "$url")
path=${url#rtsp://127.0.0.1:$rtsp_port/}
group=$(sed -E 's|.*\(group ([0-9]+)\).*|\1|' <<< "$banner")

# The simulator's running totals ("frames F ... octets O"), asked for with SIGUSR1.
totals() {
    local before
    before=$(grep -c '^totals ' "$out/camsim.log" || true)
    kill -USR1 "$sim"
    for _ in $(seq 100); do
        (($(grep -c '^totals ' "$out/camsim.log" || true) > before)) && break
        sleep 0.05
    done
    grep '^totals ' "$out/camsim.log" | tail -1
}

bench=$build/bench/bench_channel_load
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
# This machine's floor for two thread hand-offs of a burst, at the largest N's packet rate,
# measured first, while nothing of the run loads the machine.
echo "latency floor ..." >&2
floor=$(timeout 60 "$bench" floor --streams "${ns[-1]}" --seconds 10 || echo "floor failed")
: > "$out/results"
# One result line: the tool named with its transport, and the simulator's totals before and after.
record() {
    local file=$1 tool=$2 n=$3 transport=$4 t0=$5 t1=$6 line
    line=$(grep -m1 '^result ' "$file" || echo "result tool=$tool n=$n")
    echo "${line/tool=$tool /tool=$tool/$transport } | $t0 | $t1" >> "$out/results"
}
for n in "${ns[@]}"; do
  for transport in "${ts[@]}"; do
    echo "N=$n $transport: driver ..." >&2
    t0=$(totals)
    timeout -k 5 $((seconds + grace + 60)) "$bench" host "${library[@]}" --port "$http_port" --rtsp-port "$rtsp_port" \
        --h264-path "$path" --group "$group" --channels "$n" --seconds "$seconds" --frames "$frames" \
        --grace "$grace" --rtsp-transport "$transport" > "$out/host-$n-$transport.txt" 2> "$out/host-$n-$transport.err" &
    host_pid=$!
    if ((perf_n == n)) && command -v perf > /dev/null; then
        # Profile the streaming middle of the run (the host under timeout), not start-up or stop.
        sleep $((seconds / 3 + 2))
        target=$(pgrep -P "$host_pid" | head -1 || true)
        [[ -n $target ]] && timeout -k 5 $((seconds / 3 + 10)) perf record -g -F 999 -p "$target" -o "$out/perf-$n-$transport.data" \
            -- sleep $((seconds / 3)) > /dev/null 2>&1 || true
    fi
    wait "$host_pid" || true
    t1=$(totals)
    record "$out/host-$n-$transport.txt" tavrin "$n" "$transport" "$t0" "$t1"
    for peer in "${peers[@]}"; do
        echo "N=$n $transport: $peer ..." >&2
        if [[ $peer == ffmpeg ]]; then
            command=(ffmpeg -nostdin -hide_banner -rtsp_transport "$transport" -i "$url" -c copy -f null -)
        else
            command=(gst-launch-1.0 rtspsrc "location=$url" "protocols=$transport" ! rtph264depay ! fakesink)
        fi
        t0=$(totals)
        timeout -k 5 $((seconds + peer_grace + 30)) "$bench" peer --name "$peer" --copies "$n" \
            --seconds "$seconds" --grace "$peer_grace" --log-dir "$out" -- "${command[@]}" \
            > "$out/$peer-$n-$transport.txt" 2>&1 || true
        t1=$(totals)
        record "$out/$peer-$n-$transport.txt" "$peer" "$n" "$transport" "$t0" "$t1"
    done
  done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

echo "Channel load: H.264 1920x1080 25 fps ~4 Mbit/s from tavrin-camsim, ${seconds} s ($frames frames) per stream; driver with alarm I/O and motion polling"
echo "Machine: $(nproc) cores, load average $load_before before, $load_after after; fuzzers paused: ${#paused[@]}; logs in $out"
echo "Phases: $( ((${#phases[@]})) && echo "spread (independent cameras)" || echo "aligned (every session sends at the same instants)")"
echo "Latency floor of two thread hand-offs (p50/p99/max us): $floor"
awk -v transports="$transports" '
function field(line, key,   i, n, w) { n = split(line, w, " "); for (i = 1; i <= n; ++i) if (index(w[i], key "=") == 1) return substr(w[i], length(key) + 2); return "" }
function sim(line, key,   i, n, w) { n = split(line, w, " "); for (i = 1; i < n; ++i) if (w[i] == key) return w[i + 1]; return 0 }
function ratio(cpu, mbit) { return mbit > 0 ? cpu * 1000 / mbit : 0 }
function ms(us) { return us < 0 ? "-" : sprintf("%.2f", us / 1000) }
{
    split($0, part, / \| /)
    head = part[1]
    tool = field(head, "tool"); n = field(head, "n") + 0; cpu = field(head, "cpu_s")
    split(tool, named, "/"); tr = named[2]
    sent = sim(part[3], "frames") - sim(part[2], "frames")
    mbit = (sim(part[3], "octets") - sim(part[2], "octets")) * 8 / 1e6
    ns[n] = 1
    if (n > maxN) maxN = n
    if (cpu == "") {
        rows[++count] = sprintf("%-15s %3d  failed (see the logs)", tool, n)
        next
    }
    got = field(head, "frames") + 0
    lost = got < 0 ? "-" : sent - got
    rss = sprintf("%.1f/proc", field(head, "peak_rss_kib") / 1024); per = "-"; thr = "-"; fds = "-"; lat = "-"
    streaming = field(head, "streaming_s")
    cores = cpu / (streaming != "" ? streaming : field(head, "wall_s"))
    if (named[1] == "tavrin") {
        steady = field(head, "steady_rss_kib"); base = field(head, "base_rss_kib")
        rss = sprintf("%.1f/%.1f", steady / 1024, field(head, "peak_rss_kib") / 1024)
        per = sprintf("%.2f", (steady - base) / 1024 / n)
        thr = field(head, "threads"); fds = field(head, "fds")
        p99 = field(head, "lat_p99_us")
        lat = ms(field(head, "lat_p50_us")) "/" ms(p99) "/" ms(field(head, "lat_max_us"))
        steadyOf[n, tr] = steady; lostOf[n, tr] = lost; coresOf[n, tr] = cores; p99Of[n, tr] = p99
        stampedOf[n, tr] = field(head, "stamped"); gotOf[n, tr] = got
        extraOf[n, tr] = sprintf("io=%s io_events=%s motion_records=%s signal_lost=%s errors=%s", field(head, "io"),
                             field(head, "io_events"), field(head, "motion"), field(head, "signal_lost"), field(head, "errors"))
    }
    cpuMbit[tool, n] = ratio(cpu, mbit)
    rows[++count] = sprintf("%-15s %3d %7.2f %5.2f %9.1f %7.3f %7.1f %6d %6s %5s %11s %6s %7s %5s %16s %9.1f", tool, n, cpu,
                            cores, cpu * 1000 / n, ratio(cpu, mbit), mbit, sent, got < 0 ? "-" : got, lost, rss, per,
                            thr, fds, lat, sent > 0 ? field(head, "switches") / sent : 0)
}
END {
    printf "%-15s %3s %7s %5s %9s %7s %7s %6s %6s %5s %11s %6s %7s %5s %16s %9s\n", "client", "N", "cpu_s", "cores",
           "ms/stream", "ms/Mbit", "Mbit", "sent", "got", "lost", "RSS MiB s/pk", "MiB/ch", "threads", "fds",
           "lat ms p50/99/max", "csw/frame"
    for (i = 1; i <= count; ++i) print rows[i]
    print ""
    nt = split(transports, trs, ",")
    for (n = 1; n <= 64; ++n) for (k = 1; k <= nt; ++k) if (((n, trs[k]) in extraOf))
        printf "  driver N=%-2d %s: %s stamped=%s of %s frames\n", n, trs[k], extraOf[n, trs[k]], stampedOf[n, trs[k]], gotOf[n, trs[k]]
    print ""
    printf "Targets for the driver (at N=%d unless per N), over each transport: 0 frames lost, under half a core,\n", maxN
    print "p99 latency <= 1 ms, <= 2 MiB of RSS per extra channel, CPU per Mbit at most half of FFmpeg'"'"'s and of"
    print "GStreamer'"'"'s over the same transport."
    for (k = 1; k <= nt; ++k) {
        tr = trs[k]
        for (n = 1; n <= 64; ++n) {
            if (!(n in ns)) continue
            if (!(("tavrin/" tr, n) in cpuMbit)) { printf "  N=%-2d %s: driver run failed\n", n, tr; continue }
            t = cpuMbit["tavrin/" tr, n]; f = cpuMbit["ffmpeg/" tr, n]; g = cpuMbit["gstreamer/" tr, n]
            if (f > 0) printf "  N=%-2d %s CPU/Mbit vs FFmpeg:    %.3f vs %.3f ms = %.2fx  %s\n", n, tr, t, f, t / f, t <= f / 2 ? "met" : "NOT met"
            if (g > 0) printf "  N=%-2d %s CPU/Mbit vs GStreamer: %.3f vs %.3f ms = %.2fx  %s\n", n, tr, t, g, t / g, t <= g / 2 ? "met" : "NOT met"
            if (n > 1 && ((1, tr) in steadyOf)) {
                extra = (steadyOf[n, tr] - steadyOf[1, tr]) / 1024 / (n - 1)
                printf "  N=%-2d %s RSS per extra channel: %.2f MiB  %s\n", n, tr, extra, extra <= 2 ? "met" : "NOT met"
            }
        }
        if ((maxN, tr) in lostOf) {
            printf "  N=%d %s frames lost: %s  %s\n", maxN, tr, lostOf[maxN, tr], lostOf[maxN, tr] == 0 ? "met" : "NOT met"
            printf "  N=%d %s host CPU: %.2f cores  %s\n", maxN, tr, coresOf[maxN, tr], coresOf[maxN, tr] < 0.5 ? "met" : "NOT met"
            printf "  N=%d %s p99 latency: %s ms  %s\n", maxN, tr, ms(p99Of[maxN, tr]), (p99Of[maxN, tr] >= 0 && p99Of[maxN, tr] <= 1000) ? "met" : "NOT met"
        } else printf "  N=%d %s: the driver run failed; no loss, CPU or latency figures\n", maxN, tr
    }
}' "$out/results"
