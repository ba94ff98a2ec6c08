#!/usr/bin/env bash
# Streams from RTSP servers no one here wrote, played through Tavrin.so by tavrin-host (its bundled
# simulator answers the camera's CGI side; custom parameters 2, 4 and 5 point the driver at the
# peer): VLC's H.264 and RTP/JPEG (one 64-byte quantisation table), and FFmpeg's H.264 and
# RTP/JPEG (no end-of-image marker) published to Debian's Perl RTSP::Server relay; and H.264 with
# RTP interleaved on the RTSP connection (--rtsp-transport tcp) from GStreamer's RTSP server
# (tests/peers/gst_rtsp_server.py; that case alone is skipped, with a line saying so, where
# GStreamer's RTSP server is missing). VLC's RTSP output and the Perl relay answer a SETUP for
# RTP/AVP/TCP with 461 Unsupported Transport, so they are played over UDP only. Every picture
# captured must decode (ffmpeg framemd5) to the source's, in order. Exit 77 when VLC, FFmpeg or the
# Perl relay is missing.
# Usage: third_party_peers.sh TAVRIN_HOST MEDIA_DIR (PEER_CASES="vlc-h264 ..." runs only those)
set -euo pipefail
cd "$(dirname "$0")/../.."
host=${1:?usage: third_party_peers.sh TAVRIN_HOST MEDIA_DIR}
media=${2:?usage: third_party_peers.sh TAVRIN_HOST MEDIA_DIR}
SECONDS_PER_CASE=6
MIN_PICTURES=50  # of some 150 at 25 fps: the stream ran, not just began

for tool in cvlc ffmpeg perl; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
perl -MRTSP::Server -e 1 2>/dev/null || { echo "skipped: Perl RTSP::Server is not installed"; exit 77; }
bash scripts/make-media.sh "$media" >/dev/null

# Sources readable by the unprivileged user VLC runs as: 30 s of H.264, 32 s of JPEG pictures.
scratch=$(mktemp -d)
chmod 755 "$scratch"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
for _ in $(seq 15); do cat "$media/h264_1080p25.264"; done >"$scratch/h264.264"
for _ in $(seq 100); do cat "$media"/jpeg420/*.jpg; done >"$scratch/jpeg.mjpeg"
chmod 644 "$scratch"/*

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits up to 10 s until something listens on the loopback port.
wait_listening() {
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "nothing listens on port $1" >&2
  return 1
}

# VLC refuses to run as root.
as_unprivileged() {
  if [[ $(id -u) -eq 0 ]]; then
    setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$scratch" "$@"
  else
    env HOME="$scratch" "$@"
  fi
}

failures=0
# play NAME CODEC PORT STREAM_PATH REFERENCE [HOST_OPTION...]: tavrin-host plays
# rtsp://127.0.0.1:PORT/STREAM_PATH.
play() {
  local name=$1 codec=$2 port=$3 path=$4 reference=$5 out="$scratch/$1"
  shift 5
  local -a options=(--codec 3 --custom 5 "$path" "$@")
  local file=channel-0.h264
  if [[ $codec == mjpeg ]]; then
    options=(--codec 1 --width 320 --height 240 --custom 4 "$path" "$@")
    file=channel-0.mjpeg
  fi
  "$host" --media "$media" --seconds "$SECONDS_PER_CASE" --custom 2 "$port" "${options[@]}" \
    --out "$out" >"$out.host.log" 2>&1 || true
  local verdict
  if verdict=$(python3 scripts/framemd5-loop.py "$out/$file" "$reference" 2>&1) &&
    (($(awk '{print $2}' <<<"$verdict") >= MIN_PICTURES)); then
    echo "$name: $verdict"
  else
    echo "$name: FAILED: ${verdict:-no pictures}"
    tail -5 "$out/driver.log" 2>/dev/null || true
    failures=$((failures + 1))
  fi
}

# start_vlc NAME DEMUX SOURCE LIFETIME_S: VLC serves SOURCE at rtsp://127.0.0.1:$port/stream.
start_vlc() {
  port=$(free_port)
  as_unprivileged timeout "$4" cvlc -I dummy --no-audio --demux "$2" --"$2"-fps 25 "$3" \
    --sout "#rtp{sdp=rtsp://127.0.0.1:$port/stream}" >"$scratch/$1.vlc.log" 2>&1 &
  pids+=($!)
  wait_listening "$port"
}

vlc_case() {
  local name=$1 codec=$2 source=$3 demux=$4 reference=$5 port
  start_vlc "$name" "$demux" "$source" 60
  play "$name" "$codec" "$port" stream "$reference"
  kill "${pids[-1]}" 2>/dev/null || true
}

relay_case() {
  local name=$1 codec=$2 reference=$3 client source
  shift 3
  client=$(free_port)
  source=$(free_port)
  timeout 60 perl tests/peers/perl_rtsp_relay.pl "$client" "$source" "$((20000 + RANDOM % 20000))" 50 \
    >"$scratch/$name.relay.log" 2>&1 &
  pids+=($!)
  wait_listening "$source"
  timeout 60 ffmpeg -nostdin -loglevel error -re "$@" -c:v copy -f rtsp \
    "rtsp://127.0.0.1:$source/stream" >"$scratch/$name.ffmpeg.log" 2>&1 &
  pids+=($!)
  play "$name" "$codec" "$client" stream "$reference"
  kill "${pids[-1]}" "${pids[-2]}" 2>/dev/null || true
}

# The interpreter python3-gi belongs to (a python3 earlier on PATH may lack it).
gst_python=/usr/bin/python3
gst_case() {
  local name=$1 reference=$2 port=
  shift 2
  if ! "$gst_python" -c 'import gi; gi.require_version("GstRtspServer", "1.0")' 2>/dev/null; then
    echo "$name: skipped: GStreamer's RTSP server (python3 gi, GstRtspServer) is not installed"
    return
  fi
  "$gst_python" tests/peers/gst_rtsp_server.py --h264 "/stream=$scratch/h264.264" \
    --jpeg "$media/jpeg420" --lifetime 60 >"$scratch/$name.gst.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    port=$(awk '/^PORT /{print $2}' "$scratch/$name.gst.log")
    [[ -n $port ]] && break
    sleep 0.1
  done
  play "$name" h264 "${port:-0}" stream "$reference" "$@"
  kill "${pids[-1]}" 2>/dev/null || true
}

# VLC ends a session 60 s after PLAY unless the client keeps it alive in a way VLC counts (it
# does not count OPTIONS; its Public header offers GET_PARAMETER): 75 s must pass on the one
# session, with no new set-up, no signal loss and no gap. Asked for by name only (PEER_CASES).
vlc_long_session_case() {
  local name=vlc-long-session seconds=75 port out frames
  out="$scratch/$name"
  for _ in $(seq 3); do cat "$scratch/h264.264"; done >"$scratch/long.264"  # 90 s
  chmod 644 "$scratch/long.264"
  start_vlc "$name" h264 "$scratch/long.264" 120
  "$host" --media "$media" --seconds "$seconds" --custom 2 "$port" --codec 3 --custom 5 stream \
    --out "$out" >"$out.host.log" 2>&1 || true
  frames=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["channels"][0]["frames"])' \
    "$out/summary.json" 2>/dev/null || echo 0)
  local ended
  ended=$(grep -cE 'set up anew|Signal was lost|offline or failed' "$out/driver.log" 2>/dev/null || true)
  if ((frames >= seconds * 25 * 9 / 10 && ${ended:-0} == 0)); then
    echo "$name: $frames pictures in ${seconds} s on one session"
  else
    echo "$name: FAILED: $frames pictures in ${seconds} s, ${ended:-0} session ends"
    grep -E 'set up anew|Signal was lost|offline|failed' "$out/driver.log" | head -5 || true
    failures=$((failures + 1))
  fi
  kill "${pids[-1]}" 2>/dev/null || true
}

wanted() { [[ -z ${PEER_CASES:-} || " $PEER_CASES " == *" $1 "* ]]; }
named() { [[ " ${PEER_CASES:-} " == *" $1 "* ]]; }
wanted vlc-h264 && vlc_case vlc-h264 h264 "$scratch/h264.264" h264 "$media/h264_1080p25.264"
wanted vlc-jpeg && vlc_case vlc-jpeg mjpeg "$scratch/jpeg.mjpeg" mjpeg "$media/jpeg420"
wanted ffmpeg-relay-h264 && relay_case ffmpeg-relay-h264 h264 "$media/h264_1080p25.264" \
  -fflags +genpts -framerate 25 -f h264 -i "$scratch/h264.264"
wanted ffmpeg-relay-jpeg && relay_case ffmpeg-relay-jpeg mjpeg "$media/jpeg420" \
  -stream_loop -1 -framerate 25 -f image2 -i "$media/jpeg420/%03d.jpg"
# RTP interleaved on the RTSP connection.
wanted gst-h264-tcp && gst_case gst-h264-tcp "$media/h264_1080p25.264" --rtsp-transport=tcp
named vlc-long-session && vlc_long_session_case
exit $((failures > 0))
