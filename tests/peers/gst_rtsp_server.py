#!/usr/bin/python3
"""GStreamer's RTSP server as an independent peer for the tests.

Serves H.264 Annex B files at the mount points given (--h264 /h264=FILE, repeatable) and a
folder of JPEG pictures (in name order) as RTP/JPEG at /jpeg, all at the frame rate, on 127.0.0.1, with no, Basic or Digest authentication in the server's
default realm. Prints "PORT <n>" and "PID <n>" once it listens; ends on SIGTERM or SIGINT, and
by itself after --lifetime seconds.
"""
import argparse
import os
import signal
import sys

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtsp", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtsp, GstRtspServer  # noqa: E402


def launch_path(path):
    return '"' + path.replace("\\", "\\\\").replace('"', '\\"') + '"'


def make_factory(launch, role):
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch("( " + launch + " )")
    if role:
        factory.add_role_from_structure(Gst.Structure.from_string(
            role + ", media.factory.access=(boolean)true, media.factory.construct=(boolean)true")[0])
    return factory


def feed_pictures(pictures, fps):
    """Fills a media's appsrc with the pictures, one frame period apart, so that they leave at
    the frame rate as a camera's would."""
    def configure(factory, media):
        source = media.get_element().get_by_name_recurse_up("src")
        for number, picture in enumerate(pictures):
            buffer = Gst.Buffer.new_wrapped(picture)
            buffer.pts = number * Gst.SECOND // fps
            buffer.duration = Gst.SECOND // fps
            source.emit("push-buffer", buffer)
        source.emit("end-of-stream")
    return configure


def make_auth(mode, user, password, role):
    auth = GstRtspServer.RTSPAuth()
    token = GstRtspServer.RTSPToken()
    token.set_string("media.factory.role", role)
    if mode == "basic":
        auth.add_basic(GstRtspServer.RTSPAuth.make_basic(user, password), token)
        auth.set_supported_methods(GstRtsp.RTSPAuthMethod.BASIC)
    else:
        auth.add_digest(user, password, token)
        auth.set_supported_methods(GstRtsp.RTSPAuthMethod.DIGEST)
    return auth


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--port", type=int, default=0, help="0: any free port")
    parser.add_argument("--h264", action="append", required=True, metavar="MOUNT=FILE",
                        help="H.264 Annex B file served at MOUNT (repeatable)")
    parser.add_argument("--jpeg", required=True, help="folder of .jpg pictures, sent in name order")
    parser.add_argument("--fps", type=int, default=25)
    parser.add_argument("--auth", choices=["none", "basic", "digest"], default="none")
    parser.add_argument("--user", default="admin")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--lifetime", type=float, default=60, help="seconds before it ends itself")
    args = parser.parse_args()

    Gst.init(None)
    role = "user" if args.auth != "none" else ""
    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service(str(args.port))
    mounts = server.get_mount_points()
    for item in args.h264:
        mount, _, path = item.partition("=")
        mounts.add_factory(mount, make_factory(
            "filesrc location=%s ! video/x-h264,stream-format=byte-stream,framerate=%d/1 "
            "! h264parse ! rtph264pay name=pay0 pt=96" % (launch_path(path), args.fps), role))
    pictures = []
    for name in sorted(os.listdir(args.jpeg)):
        if name.endswith(".jpg"):
            with open(os.path.join(args.jpeg, name), "rb") as file:
                pictures.append(file.read())
    jpeg = make_factory("appsrc name=src format=time caps=image/jpeg,framerate=%d/1 "
                        "! jpegparse ! rtpjpegpay name=pay0 pt=26" % args.fps, role)
    jpeg.connect("media-configure", feed_pictures(pictures, args.fps))
    mounts.add_factory("/jpeg", jpeg)
    if role:
        server.set_auth(make_auth(args.auth, args.user, args.password, role))
    if server.attach(None) == 0:
        sys.exit("cannot listen on port %d" % args.port)

    loop = GLib.MainLoop()
    for number in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, number, loop.quit)
    GLib.timeout_add(int(args.lifetime * 1000), loop.quit)
    print("PORT %d" % server.get_bound_port(), flush=True)
    print("PID %d" % os.getpid(), flush=True)
    loop.run()


if __name__ == "__main__":
    main()
