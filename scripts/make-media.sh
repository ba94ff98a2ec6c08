#!/usr/bin/env bash
# Makes the reference media of the depacketiser checks and the camera simulator with ffmpeg and
# cjpeg. Usage: make-media.sh OUTPUT_DIR. Idempotent: a complete set made by this version of the
# script (its checksum in .done) is kept; concurrent callers wait for the one that makes it.
set -euo pipefail

out=${1:?usage: make-media.sh OUTPUT_DIR}
mkdir -p "$(dirname "$out")"
exec 9>"$out.lock"
flock 9
version=$(md5sum < "$0")
[[ -f "$out/.done" && $(cat "$out/.done") == "$version" ]] && exit 0

tmp="$out.tmp.$$"
rm -rf "$tmp"
mkdir -p "$tmp"
trap 'rm -rf "$tmp"' EXIT

ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
src() { echo "testsrc2=size=$1:rate=25"; }

# H.264: SPS and PPS before every IDR, fixed GOP, no scene-cut IDRs. Main and high need
# CABAC (and high the 8x8 transform), which the ultrafast preset leaves out.
h264() {
    local name=$1 size=$2 frames=$3 profile=$4 params=$5 preset=veryfast
    [[ $profile == baseline ]] && preset=ultrafast
    ff -f lavfi -i "$(src "$size")" -frames:v "$frames" -pix_fmt yuv420p -c:v libx264 \
        -preset "$preset" -profile:v "$profile" -g 10 \
        -x264-params "repeat-headers=1:scenecut=0${params:+:$params}" -f h264 "$tmp/$name.264"
}
h264 h264_1slice 320x240 25 baseline ""
h264 h264_4slice 320x240 25 main "slices=4"
h264 h264_1080p 1920x1080 12 high ""          # 1088 coded rows, cropped to 1080
h264 h264_1080p_4slice 1920x1080 12 high "slices=4"
# The simulator's full-size stream: 1080p25 at about 4 Mbit/s, a key frame every second.
h264 h264_1080p25 1920x1080 50 high "keyint=25:min-keyint=25:bitrate=4000:vbv-maxrate=4000:vbv-bufsize=4000"
# The same streams without in-band parameter sets (and without the encoder's SEI, so an IDR
# slice starts its access unit): the receiver gets SPS and PPS out of band.
for name in h264_1slice h264_4slice h264_1080p; do
    ff -i "$tmp/$name.264" -c copy -bsf:v "filter_units=remove_types=6|7|8" -f h264 \
        "$tmp/${name}_oob.264"
done

# Baseline JPEG with the standard Huffman tables. ffmpeg's encoder samples 4:2:2 chroma 1x2
# against 2x2 luma, which RTP/JPEG cannot express, so 4:2:2 (type 0: luma 2x1, chroma 1x1)
# comes from cjpeg, whose tables are the standard ones unless asked to optimise them.
jpeg() {
    local name=$1 size=$2 frames=$3
    mkdir -p "$tmp/$name"
    ff -f lavfi -i "$(src "$size")" -frames:v "$frames" -pix_fmt yuvj420p -c:v mjpeg -q:v 4 \
        -huffman default -f image2 "$tmp/$name/%03d.jpg"
}
jpeg jpeg420 320x240 8
jpeg jpeg1080p 1920x1080 3
jpeg jpeg720p 1280x720 3

# cjpeg: 4:2:2 at quality 85, and quality 50, which uses the base tables unscaled as RTP/JPEG
# Q 50 does.
mkdir -p "$tmp/jpeg422" "$tmp/cjpeg50_420" "$tmp/cjpeg50_422"
ff -f lavfi -i "$(src 320x240)" -frames:v 8 -f image2 "$tmp/frame%03d.ppm"
for ppm in "$tmp"/frame*.ppm; do
    n=$(basename "$ppm" .ppm)
    n=${n#frame}
    cjpeg -quality 85 -baseline -sample 2x1 -outfile "$tmp/jpeg422/$n.jpg" "$ppm"
    if ((10#$n <= 4)); then
        cjpeg -quality 50 -baseline -sample 2x2 -outfile "$tmp/cjpeg50_420/$n.jpg" "$ppm"
        cjpeg -quality 50 -baseline -sample 2x1 -outfile "$tmp/cjpeg50_422/$n.jpg" "$ppm"
    fi
done
# Every RTP/JPEG Q from 1 to 99: cjpeg scales the base tables exactly as the receiver does.
mkdir -p "$tmp/cjpeg_q"
for q in $(seq 1 99); do
    cjpeg -quality "$q" -baseline -sample 2x2 -outfile "$tmp/cjpeg_q/$(printf %03d "$q").jpg" \
        "$tmp/frame001.ppm"
done
# Own tables whose zig-zag order holds 255 then 217 (FF D9 in the DQT segment), for in-band
# tables: coefficients 10 and 11 of the luminance table sit at natural positions 32 and 25.
awk 'BEGIN {
    split("16 11 10 16 24 40 51 61 12 12 14 19 26 58 60 55 14 13 16 24 40 57 69 56 " \
          "14 17 22 29 51 87 80 62 18 22 37 56 68 109 103 77 24 35 55 64 81 104 113 92 " \
          "49 64 78 87 103 121 120 101 72 92 95 98 112 100 103 99", luma, " ")
    luma[26] = 217; luma[33] = 255
    for (i = 1; i <= 64; i++) printf "%d%s", luma[i], i % 8 ? " " : "\n"
    for (i = 1; i <= 64; i++) printf "%d%s", i <= 8 ? 17 : 99, i % 8 ? " " : "\n"
}' > "$tmp/ffd9.qtables"
mkdir -p "$tmp/cjpeg_ffd9"
for n in 001 002 003; do
    cjpeg -qtables "$tmp/ffd9.qtables" -baseline -sample 2x2 -outfile "$tmp/cjpeg_ffd9/$n.jpg" \
        "$tmp/frame$n.ppm"
done
# Restart markers every 3 MCUs (4:2:0 and 4:2:2), and one table for all three components.
mkdir -p "$tmp/cjpeg_restart420" "$tmp/cjpeg_restart422" "$tmp/cjpeg_onetable"
for n in 001 002 003; do
    cjpeg -quality 80 -baseline -sample 2x2 -restart 3B -outfile "$tmp/cjpeg_restart420/$n.jpg" \
        "$tmp/frame$n.ppm"
    cjpeg -quality 80 -baseline -sample 2x1 -restart 3B -outfile "$tmp/cjpeg_restart422/$n.jpg" \
        "$tmp/frame$n.ppm"
    cjpeg -quality 80 -baseline -sample 2x2 -qslots 0 -outfile "$tmp/cjpeg_onetable/$n.jpg" \
        "$tmp/frame$n.ppm"
done
rm -f "$tmp"/frame*.ppm "$tmp/ffd9.qtables"

echo "$version" > "$tmp/.done"
rm -rf "$out"
mv "$tmp" "$out"
trap - EXIT
