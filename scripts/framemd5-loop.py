#!/usr/bin/env python3
"""Decodes a captured H.264 or Motion-JPEG stream and the reference with ffmpeg (-f framemd5) and
fails unless the captured pictures are the reference's, in order, looping, from wherever they
begin. A capture that stops after reference frames whose B-frames it did not get shows them last,
in place of the B-frames: each of the last few pictures may be one of the next few reference
pictures, each at most once."""
import os
import subprocess
import sys

MAX_B_FRAMES = 3  # consecutive B-frames the encoder may place


def input_of(path):
    """ffmpeg's input options for an H.264 stream, a Motion-JPEG stream (.mjpeg) or a folder of
    numbered pictures (001.jpg, 002.jpg ...)."""
    if os.path.isdir(path):
        return ["-f", "image2", "-i", os.path.join(path, "%03d.jpg")]
    return ["-f", "mjpeg" if path.endswith(".mjpeg") else "h264", "-i", path]


def frame_hashes(path):
    result = subprocess.run(
        ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", *input_of(path),
         "-f", "framemd5", "-"], capture_output=True, text=True, check=True)
    return [line.split(",")[5].strip() for line in result.stdout.splitlines()
            if line and not line.startswith("#")]


def main():
    captured, reference = frame_hashes(sys.argv[1]), frame_hashes(sys.argv[2])
    if not captured or not reference:
        sys.exit(f"framemd5: {len(captured)} captured, {len(reference)} reference pictures")
    if captured[0] not in reference:
        sys.exit("framemd5: the first captured picture is not a reference picture")
    at = reference.index(captured[0])
    tail = max(len(captured) - MAX_B_FRAMES, 1)
    for i, digest in enumerate(captured[:tail]):
        if digest != reference[(at + i) % len(reference)]:
            sys.exit(f"framemd5: picture {i} differs from the reference")
    following = [reference[(at + tail + k) % len(reference)] for k in range(2 * MAX_B_FRAMES)]
    for i, digest in enumerate(captured[tail:], start=tail):
        if digest not in following:
            sys.exit(f"framemd5: picture {i} of the last few is not one of the next reference pictures")
        following.remove(digest)
    print(f"framemd5: {len(captured)} captured pictures equal the reference loop")


if __name__ == "__main__":
    main()
