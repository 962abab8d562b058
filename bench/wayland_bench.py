#!/usr/bin/env python3
"""The Wayland row of bench/e2e_bench.py (--rows sway), run inside the private
Wayland desktop of scripts/wayland/session.sh (headless sway at 1280x720, the
screen-cast portal with its wlroots backend, PipeWire).

Moving content (a native terminal counting as fast as it can draw) covers
the output. The same monitor share is recorded for the same time by
  frelvanta  a command-line run (H.264 in software, no sound), and
  gstreamer  a peer pipeline on a portal share of its own:
             pipewiresrc ! videoconvert ! x264enc (superfast) ! mp4mux
and for each the table gives the distinct pictures in the file (those that
differ from the one before, by FFmpeg's mpdecimate) and the recorder
process's CPU time (user + system).

  scripts/wayland/session.sh /usr/bin/python3 bench/wayland_bench.py \\
      --frelvanta build/src/frelvanta --duration 10
"""
import argparse
import os
import re
import resource
import signal
import subprocess
import sys
import tempfile
import time


def distinct_pictures(path):
    r = subprocess.run(["ffmpeg", "-v", "info", "-i", path, "-vf", "mpdecimate,showinfo", "-an", "-f", "null", "-"],
                       capture_output=True, text=True)
    return sum(1 for line in r.stderr.splitlines() if "Parsed_showinfo" in line and " n:" in line)


def duration(path):
    r = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path],
                       capture_output=True, text=True)
    try:
        return float(r.stdout.strip())
    except ValueError:
        return 0.0


def wait_cpu(proc, timeout):
    """Waits for the child and returns its CPU seconds (user + system)."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid == proc.pid:
            proc.returncode = os.waitstatus_to_exitcode(status)
            return usage.ru_utime + usage.ru_stime
        time.sleep(0.05)
    proc.kill()
    pid, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = -1
    return usage.ru_utime + usage.ru_stime


def record_frelvanta(exe, seconds, work):
    d = os.path.join(work, "fv")
    os.makedirs(d)
    subprocess.run(["cp", exe, d + "/frelvanta"], check=True)
    with open(d + "/frelvanta.ini", "w", newline="") as f:
        f.write("[frelvanta]\r\nHardwareEncoder=0\r\nOutputFolder=%s\r\nVideoCodec=H264\r\nVideoBitrate=8000\r\n" % d)
    out = d + "/out.mp4"
    p = subprocess.Popen([d + "/frelvanta", "--mode", "monitor", "--duration", str(seconds), "--output", out,
                          "--audio", "off"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    cpu = wait_cpu(p, seconds + 60)
    return out, cpu, p.returncode


def portal_share():
    """A monitor share of its own: (PipeWire fd, node id), through dbus-python."""
    import dbus
    from dbus.mainloop.glib import DBusGMainLoop
    from gi.repository import GLib
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    portal = bus.get_object("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop")
    cast = dbus.Interface(portal, "org.freedesktop.portal.ScreenCast")
    sender = bus.get_unique_name()[1:].replace(".", "_")
    loop = GLib.MainLoop()
    serial = [0]

    def ask(method, *args, options):
        serial[0] += 1
        token = "bench%d" % serial[0]
        path = "/org/freedesktop/portal/desktop/request/%s/%s" % (sender, token)
        answer = {}

        def on_response(code, results):
            answer["code"], answer["results"] = code, results
            loop.quit()
        match = bus.add_signal_receiver(on_response, "Response", "org.freedesktop.portal.Request", path=path)
        options["handle_token"] = token
        getattr(cast, method)(*args, options)
        GLib.timeout_add_seconds(30, loop.quit)
        loop.run()
        match.remove()
        if answer.get("code") != 0:
            raise RuntimeError("%s: %s" % (method, answer))
        return answer["results"]

    r = ask("CreateSession", options={"session_handle_token": "benchsession"})
    session = dbus.ObjectPath(r["session_handle"])
    ask("SelectSources", session, options={"types": dbus.UInt32(1), "cursor_mode": dbus.UInt32(2)})
    r = ask("Start", session, "", options={})
    node = int(r["streams"][0][0])
    fd = cast.OpenPipeWireRemote(session, dbus.Dictionary({}, signature="sv")).take()
    return fd, node, (bus, session)


def record_gstreamer(seconds, work):
    fd, node, keep = portal_share()
    # The D-Bus main loop may have taken over child exits; this process
    # waits for its own child.
    signal.signal(signal.SIGCHLD, signal.SIG_DFL)
    out = os.path.join(work, "gst.mp4")
    p = subprocess.Popen(["gst-launch-1.0", "-e", "-q", "pipewiresrc", "fd=%d" % fd, "path=%d" % node,
                          "do-timestamp=true", "!", "videoconvert", "!", "x264enc", "speed-preset=superfast",
                          "bitrate=8000", "!", "mp4mux", "!", "filesink", "location=" + out],
                         pass_fds=(fd,), stdout=subprocess.DEVNULL, stderr=open(out + ".log", "w"))
    os.close(fd)
    time.sleep(seconds)
    os.kill(p.pid, signal.SIGINT)
    cpu = wait_cpu(p, 60)
    if p.returncode != 0:
        raise RuntimeError("gst-launch-1.0 exit %d: %s" % (p.returncode, open(out + ".log").read()[-400:]))
    return out, cpu, p.returncode


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--frelvanta", required=True)
    ap.add_argument("--duration", type=int, default=10)
    args = ap.parse_args()
    work = tempfile.mkdtemp(prefix="fv-wlbench-")
    content = subprocess.Popen(["foot", "-o", "colors.background=dc2828", "/bin/sh", "-c",
                                "i=0; while :; do i=$((i+1)); echo $i; done"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(2)
    rows = []
    try:
        out, cpu, code = record_frelvanta(os.path.abspath(args.frelvanta), args.duration, work)
        rows.append(("frelvanta", out, cpu, code))
        try:
            out, cpu, code = record_gstreamer(args.duration, work)
            rows.append(("gstreamer", out, cpu, code))
        except Exception as e:  # the peer is optional: say why it is missing
            print("gstreamer: not measured (%s)" % e, file=sys.stderr)
    finally:
        content.kill()
    print("\nsway: 1280x720 monitor share through the portal, H.264 (x264) at 8 Mbit/s, %d s, no sound"
          % args.duration)
    print("  %-12s %10s %12s %10s %10s %6s" % ("", "distinct", "pictures/s", "CPU s", "length s", "exit"))
    for name, out, cpu, code in rows:
        n = distinct_pictures(out) if os.path.exists(out) else 0
        length = duration(out) if os.path.exists(out) else 0.0
        print("  %-12s %10d %12.1f %10.2f %10.2f %6d" % (name, n, n / length if length else 0, cpu, length, code))


if __name__ == "__main__":
    main()
