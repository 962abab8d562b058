#!/usr/bin/env python3
"""End-to-end benchmark: Frelvanta against ffmpeg's x11grab, side by side.

Starts its own virtual screen (Xvfb), its own sound server (PulseAudio, or
PipeWire's PulseAudio server) with a null sink, and test content on that
screen: a picture repainted at 60 Hz with its frame number drawn along the
top edge, which flashes white once a second at the instant a click leaves the
sound server. Each row records the same content with Frelvanta (the built
executable, a command-line run with an INI written for the row) and then with
ffmpeg (x11grab + pulse) using the matching encoder at the same bit rate, and
prints for both, with the ratio Frelvanta / ffmpeg:

  distinct frames   content frame numbers that reach the file, of those the
                    screen showed between the first and the last one in it
  CPU time          user + system time of the recorder process
  peak RSS          the recorder's maximum resident size
  start latency     Frelvanta: run trace, config.values -> recording.started;
                    both: launch -> time the first recorded frame was painted
  A/V offset        median click-minus-flash time in the file
  drift             median offset of the last fifth of the flash/click pairs
                    minus that of the first fifth
  file size         bytes of the recording
  picture timing    how many different lengths the intervals between the
                    pictures take, the most common one, and the frame rate
                    mode mediainfo reads (when it is installed)
  pictures - dur.   pictures in the file minus the video duration times 60
  MLT import        the rate and length (frames) MLT's melt gives the file
                    (when it is installed)

--stall S stops the recorder (SIGSTOP) for S seconds, --stall-at seconds after
its launch, and adds the median A/V offset of the pairs from one second after
it continues. --cfr records with Frelvanta twice, with and without
ConstantFrameRate=1, and compares the two instead of ffmpeg (the cost of the
repeated pictures).

Rows: h264, h265, av1 (1920x1080) and drift (1280x720, H.264, long); sway
(only when asked for) records a Wayland desktop's portal share with Frelvanta
and with a GStreamer pipeline (bench/wayland_bench.py).
  bench/e2e_bench.py --quick          # about a minute: three codec rows, 5 s each
  bench/e2e_bench.py                  # codec rows of 15 s and a 5-minute drift row
  bench/e2e_bench.py --rows h264 --duration 30 --sound-server pipewire
  bench/e2e_bench.py --quick --cfr    # constant frame rate against the default
  bench/e2e_bench.py --rows h264 --duration 25 --stall 8 --recorders frelvanta
  bench/e2e_bench.py --rows sway --duration 10   # Wayland: distinct pictures and CPU

Needs the build (frelvanta and fv_testcontent targets), Xvfb, pulseaudio (or
pipewire, wireplumber, pipewire-pulse and dbus), pactl and ffmpeg. The machine
should be otherwise quiet: figures of one run are comparable with each other,
absolute ones much less so.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CONTENT_RATE = 60

# Row name -> (screen size, Frelvanta codec, ffmpeg encoder options).
ROWS = {
    "h264": ((1920, 1080), "H264", ["-c:v", "libx264", "-preset", "superfast"]),
    "h265": ((1920, 1080), "H265", ["-c:v", "libx265", "-preset", "ultrafast", "-x265-params", "log-level=error"]),
    "av1": ((1920, 1080), "AV1", ["-c:v", "libsvtav1", "-preset", "12"]),
    "drift": ((1280, 720), "H264", ["-c:v", "libx264", "-preset", "superfast"]),
}


def log(text):
    print(text, file=sys.stderr, flush=True)


class Processes:
    """Every background process this script starts, stopped at the end by id."""

    def __init__(self):
        self.procs = []

    def start(self, argv, **kw):
        p = subprocess.Popen(argv, **kw)
        self.procs.append(p)
        return p

    def stop_all(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
        self.procs.clear()


def wait_until(check, seconds, what):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if check():
            return
        time.sleep(0.1)
    raise RuntimeError("timed out waiting for " + what)


def quiet_ok(argv, env):
    return subprocess.run(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def start_display(procs, size, env):
    """A private Xvfb; its display number comes back through -displayfd."""
    r, w = os.pipe()
    procs.start(["Xvfb", "-displayfd", str(w), "-screen", "0", "%dx%dx24" % size, "+extension", "Composite",
                 "+extension", "DAMAGE", "+extension", "RANDR", "-nolisten", "tcp"],
                pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(w)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(r, 16)
        if not chunk:
            raise RuntimeError("Xvfb did not start")
        number += chunk
    os.close(r)
    display = ":" + number.decode().strip()
    e = dict(env, DISPLAY=display)
    wait_until(lambda: quiet_ok(["xdpyinfo"], e), 10, "the display " + display)
    return display


def start_sound(procs, kind, work, env):
    """A private sound server with a null sink "rec" (32-bit float, 48 kHz,
    stereo) as the default output; returns the environment to reach it."""
    run = os.path.join(work, "sound")
    os.makedirs(run, mode=0o700)
    with open(os.path.join(run, "client.conf"), "w") as f:
        f.write("autospawn = no\n")
    env = dict(env, PULSE_CLIENTCONFIG=os.path.join(run, "client.conf"))
    env.pop("PULSE_SERVER", None)
    sink = "module-null-sink sink_name=rec format=float32le rate=48000 channels=2"
    if kind == "pipewire":
        env.pop("PULSE_RUNTIME_PATH", None)
        env["XDG_RUNTIME_DIR"] = run
        procs.start(["pipewire"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until(lambda: os.path.exists(os.path.join(run, "pipewire-0")), 10, "pipewire")
        # The session manager must run before any sink or stream exists.
        procs.start(["wireplumber"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1)
        procs.start(["pipewire-pulse"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until(lambda: quiet_ok(["pactl", "info"], env), 10, "pipewire-pulse")
        subprocess.run(["pactl", "load-module"] + sink.split(), env=env, check=True, stdout=subprocess.DEVNULL)
    else:
        env["PULSE_RUNTIME_PATH"] = run
        procs.start(["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                     "-L", "module-native-protocol-unix", "-L", sink],
                    env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until(lambda: quiet_ok(["pactl", "info"], env), 10, "pulseaudio")
    subprocess.run(["pactl", "set-default-sink", "rec"], env=env, check=True)
    return env


def start_content(procs, exe, env, log_path):
    """The 60 Hz picture with a flash and a click once a second. Returns the
    monotonic time at which it painted frame 0."""
    out = open(log_path, "w+")
    p = procs.start([exe, "--flash-every", "1000"], env=env, stdout=subprocess.PIPE, stderr=out, text=True)
    line = p.stdout.readline()
    ready = time.monotonic()
    if "ready" not in line:
        raise RuntimeError("the test content did not start (see %s)" % log_path)
    return ready


def run_measured(argv, env, timeout, log_path, stall=None):
    """Runs a recorder to its end; returns (exit code, CPU seconds, peak RSS
    in MB, launch time, time it continued after the stall or None). `stall`:
    (seconds after the launch, seconds stopped)."""
    resumed = None
    with open(log_path, "w") as out:
        launched = time.monotonic()
        p = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        deadline = launched + timeout
        while True:
            pid, status, usage = os.wait4(p.pid, os.WNOHANG)
            if pid:
                break
            if stall and resumed is None and time.monotonic() >= launched + stall[0]:
                os.kill(p.pid, signal.SIGSTOP)
                time.sleep(stall[1])
                os.kill(p.pid, signal.SIGCONT)
                resumed = time.monotonic()
            if time.monotonic() > deadline:
                os.kill(p.pid, signal.SIGKILL)
                pid, status, usage = os.wait4(p.pid, 0)
                break
            time.sleep(0.05)
        p.returncode = os.waitstatus_to_exitcode(status)
    return p.returncode, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0, launched, resumed


def probe_start(path, stream):
    r = subprocess.run(["ffprobe", "-v", "error", "-select_streams", stream, "-show_entries", "stream=start_time",
                        "-of", "default=nw=1:nk=1", path], capture_output=True, text=True)
    try:
        return float(r.stdout.split()[0])
    except (ValueError, IndexError):
        return None


def read_pictures(path):
    """Per decoded picture: (time, content frame number, flash on). The
    frame number is the strip of 16 blocks of 32x32 pixels at the top left
    (white = 1, most significant first); the rows below it turn white during
    a flash. Both are averaged down to one pixel per block by the decoder."""
    r = subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "info", "-copyts", "-i", path,
                        "-map", "0:v:0", "-vf", "crop=512:64:0:0,scale=16:2:flags=area,format=gray,showinfo",
                        "-fps_mode", "passthrough", "-f", "rawvideo", "-"], capture_output=True)
    times = [float(m.group(1)) for m in re.finditer(rb"pts_time:\s*(-?[0-9.]+)", r.stderr)]
    data = r.stdout
    pictures = []
    for i in range(min(len(times), len(data) // 32)):
        block = data[i * 32:(i + 1) * 32]
        number = 0
        for b in block[:16]:
            number = number * 2 + (1 if b >= 128 else 0)
        flash = sum(block[16:]) / 16 >= 128
        pictures.append((times[i], number, flash))
    return pictures


def frame_counts(pictures):
    """(distinct content frames in the file, frames the screen showed from
    the first to the last of them, first frame number). A picture grabbed
    while the content was halfway through painting its number can show a
    number out of sequence: only numbers between their neighbours count."""
    # The strip holds 16 bits: the numbers wrap after about 18 minutes at
    # 60 Hz. A step of more than half the range is taken as a wrap (either
    # way, so that one misread picture does not shift all that follow).
    numbers, base, prev = [], 0, None
    for _, n, _ in pictures:
        if prev is not None and prev - n > 32768:
            base += 65536
        elif prev is not None and n - prev > 32768:
            base -= 65536
        numbers.append(n + base)
        prev = n
    valid = []
    for i, n in enumerate(numbers):
        lo = numbers[i - 1] if i > 0 else n
        hi = numbers[i + 1] if i + 1 < len(numbers) else n
        if lo <= n <= hi:
            valid.append(n)
    if not valid:
        return 0, 0, None
    return len(set(valid)), valid[-1] - valid[0] + 1, valid[0]


def click_times(path):
    """Start times of the clicks (samples beyond +-0.6; the tone stays within
    0.2), read as unsigned 8-bit so a regular expression finds them fast."""
    start = probe_start(path, "a:0")
    if start is None:
        return []
    r = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:a:0", "-af", "pan=mono|c0=c0",
                       "-ar", "48000", "-f", "u8", "-"], capture_output=True)
    clicks, last = [], -10.0
    for m in re.finditer(rb"[\x00-\x33\xcd-\xff]", r.stdout):
        t = start + m.start() / 48000.0
        if t - last > 0.5:
            clicks.append(t)
        last = t
    return clicks


def median(xs):
    s = sorted(xs)
    return s[len(s) // 2] if len(s) % 2 else (s[len(s) // 2 - 1] + s[len(s) // 2]) / 2


def pair_offsets(pictures, clicks):
    """(content frame number of the flash, click-minus-flash offset) of each
    flash with a click within half a second."""
    pairs = []
    for i, (t, number, f) in enumerate(pictures):
        if not f or i == 0 or pictures[i - 1][2]:
            continue
        near = min(clicks, key=lambda c: abs(c - t), default=None)
        if near is not None and abs(near - t) < 0.5:
            pairs.append((number, near - t))
    return pairs


def picture_timing(path):
    """(distinct interval lengths, the most common one in ms, mediainfo's
    frame rate mode or None)."""
    r = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                        "packet=pts:stream=time_base", "-of", "default=nw=1", path], capture_output=True, text=True)
    pts, base = [], None
    for line in r.stdout.splitlines():
        key, _, value = line.partition("=")
        if key == "pts" and value.lstrip("-").isdigit():
            pts.append(int(value))
        elif key == "time_base" and "/" in value:
            num, den = value.split("/")
            base = float(num) / float(den)
    pts.sort()
    lengths = {}
    for a, b in zip(pts, pts[1:]):
        lengths[b - a] = lengths.get(b - a, 0) + 1
    common = max(lengths, key=lengths.get) * base * 1000 if lengths and base else None
    mode = None
    if shutil.which("mediainfo"):
        m = subprocess.run(["mediainfo", "--Inform=Video;%FrameRate_Mode%", path], capture_output=True, text=True)
        mode = m.stdout.strip() or None
    return len(lengths), common, mode


def mlt_import(path):
    """(frame rate, length in frames) of the file as MLT imports it (melt's
    XML consumer: the automatic profile's rate and the producer's length),
    or None when melt is not installed or reads nothing."""
    if not shutil.which("melt"):
        return None
    xml = path + ".mlt"
    try:
        # melt reads an argument with "=" in it as a property (the folders of
        # the constant-rate rows have one): the file goes by its own name.
        subprocess.run(["melt", os.path.basename(path), "-consumer", "xml:" + os.path.basename(xml)],
                       cwd=os.path.dirname(path) or ".", capture_output=True, timeout=120)
        text = open(xml, encoding="utf-8").read()
    except (OSError, subprocess.TimeoutExpired):
        return None
    finally:
        if os.path.exists(xml):
            os.remove(xml)
    rate = re.search(r'frame_rate_num="(\d+)" frame_rate_den="(\d+)"', text)
    length = re.search(r'<property name="length">(\d+)</property>', text)
    if not rate or not length:
        return None
    return int(rate.group(1)) / int(rate.group(2)), int(length.group(1))


def video_duration(path):
    r = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "stream=duration",
                        "-of", "default=nw=1:nk=1", path], capture_output=True, text=True)
    try:
        return float(r.stdout.split()[0])
    except (ValueError, IndexError):
        return None


def sync_figures(pictures, clicks):
    """(median click-minus-flash offset, drift between the first and the last
    fifth of the pairs, number of pairs), in seconds; None when too few."""
    offsets = [o for _, o in pair_offsets(pictures, clicks)]
    if not offsets:
        return None, None, 0, []
    drift = None
    if len(offsets) >= 5:
        fifth = len(offsets) // 5
        drift = median(offsets[-fifth:]) - median(offsets[:fifth])
    return median(offsets), drift, len(offsets), offsets


def trace_start_latency(trace_path):
    """config.values -> recording.started of the last start in the run trace
    (times in 100-ns ticks)."""
    try:
        lines = open(trace_path, encoding="utf-8", errors="replace").read().splitlines()
    except OSError:
        return None
    config = None
    latency = None
    for line in lines:
        parts = line.strip().split(" ", 2)
        if len(parts) < 2 or not parts[0].isdigit():
            continue
        if parts[1] == "config.values":
            config = int(parts[0])
        elif parts[1] == "recording.started" and config is not None:
            latency = (int(parts[0]) - config) / 1e7
    return latency


def analyse(path, launched, content_ready, resumed=None):
    result = {"file": os.path.exists(path)}
    if not result["file"]:
        return result
    pictures = read_pictures(path)
    distinct, shown, first = frame_counts(pictures)
    result.update(distinct=distinct, shown=shown, pictures=len(pictures), size=os.path.getsize(path))
    if first is not None:
        result["first_frame"] = content_ready + first / CONTENT_RATE - launched
    clicks = click_times(path)
    offset, drift, pairs, offsets = sync_figures(pictures, clicks)
    result.update(offset=offset, drift=drift, pairs=pairs, offsets=offsets)
    lengths, common, mode = picture_timing(path)
    result.update(lengths=lengths, common=common, mode=mode, duration=video_duration(path), mlt=mlt_import(path))
    if resumed is not None:
        # Content frame numbers tell when a flash was on the screen; the
        # 16-bit numbers do not wrap within a bench row.
        from_number = (resumed + 1.0 - content_ready) * CONTENT_RATE
        after = [o for n, o in pair_offsets(pictures, clicks) if n >= from_number]
        result.update(after_stall=median(after) if after else None, after_stall_pairs=after)
    return result


def record_frelvanta(args, row, codec, env, work, content_ready, extra_ini=()):
    folder = os.path.join(work, row + "-frelvanta" + ("-" + "-".join(extra_ini) if extra_ini else ""))
    os.makedirs(folder)
    exe = os.path.join(folder, "frelvanta")
    shutil.copy2(os.path.join(args.build, "src", "frelvanta"), exe)
    # A private installation: the INI beside the executable keeps the user's
    # settings out of it, and the run trace lands beside it too.
    with open(os.path.join(folder, "frelvanta.ini"), "w", newline="") as f:
        f.write("[frelvanta]\r\nHardwareEncoder=0\r\nOutputFolder=%s\r\nWriteDiagnostics=1\r\nVideoCodec=%s\r\n"
                "VideoBitrate=%d\r\n" % (folder, codec, args.bitrate))
        for line in list(args.ini or []) + list(extra_ini):
            f.write(line + "\r\n")
    out = os.path.join(folder, "out.mp4")
    code, cpu, rss, launched, resumed = run_measured(
        [exe, "--mode", "monitor", "--duration", str(args.row_duration), "--output", out, "--audio", "on",
         "--mic", "off"], env, args.row_duration + 60 + (args.stall or 0), os.path.join(folder, "console.txt"),
        stall_of(args))
    result = analyse(out, launched, content_ready, resumed)
    result.update(exit=code, cpu=cpu, rss=rss,
                  start=trace_start_latency(os.path.join(folder, "frelvanta-runtrace.txt")))
    return result


def stall_of(args):
    return (args.stall_at, args.stall) if args.stall else None


def record_ffmpeg(args, row, size, encoder, env, work, content_ready):
    folder = os.path.join(work, row + "-ffmpeg")
    os.makedirs(folder)
    out = os.path.join(folder, "out.mp4")
    pulse = ["-f", "pulse"]
    if args.sound_server == "pipewire":
        # PipeWire hands a record stream that asks for no fragment size its
        # data in chunks of about two seconds.
        pulse += ["-fragment_size", "3840"]
    argv = (["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
             "-f", "x11grab", "-framerate", str(CONTENT_RATE), "-video_size", "%dx%d" % size,
             "-i", env["DISPLAY"] + "+0,0"] + pulse + ["-i", "rec.monitor", "-t", str(args.row_duration)]
            + encoder + ["-pix_fmt", "yuv420p", "-b:v", "%dk" % args.bitrate, "-c:a", "aac", "-b:a", "160k", out])
    code, cpu, rss, launched, resumed = run_measured(argv, env, args.row_duration + 60 + (args.stall or 0),
                                                     os.path.join(folder, "console.txt"), stall_of(args))
    result = analyse(out, launched, content_ready, resumed)
    result.update(exit=code, cpu=cpu, rss=rss, start=None)
    return result


def timing(r):
    if r.get("lengths") is None:
        return "-"
    return "%d / %s" % (r["lengths"], fmt(r.get("common"), "%.2f"))


def expected(r):
    """Pictures in the file minus the video track's duration times the
    content rate: near 0 for a constant-rate file without lost slots."""
    if r.get("duration") is None or r.get("pictures") is None:
        return "-"
    return "%+.1f" % (r["pictures"] - r["duration"] * CONTENT_RATE)


def mlt(r):
    if not r.get("mlt"):
        return "-"
    return "%.3f / %d" % r["mlt"]


def fmt(value, form, scale=1.0):
    return "-" if value is None else form % (value * scale)


def ratio(a, b):
    if a is None or b is None or b == 0:
        return "-"
    return "%.2f" % (a / b)


def print_row(row, size, codec, duration, fv, ff, bitrate, show_pairs, names=("frelvanta", "ffmpeg")):
    print("\n%s: %dx%d, %s, %d s at %d kbit/s with sound" % (row, size[0], size[1], codec, duration, bitrate))
    print("  %-34s %16s %16s %7s" % ("", names[0], names[1], "ratio"))

    def frames(r):
        if not r.get("shown"):
            return "-"
        return "%d/%d %.1f%%" % (r["distinct"], r["shown"], 100.0 * r["distinct"] / r["shown"])

    lines = [
        ("exit code", str(fv["exit"]), str(ff["exit"]), ""),
        ("distinct frames / shown", frames(fv), frames(ff), ratio(fv.get("distinct"), ff.get("distinct"))),
        ("pictures in the file", str(fv.get("pictures", "-")), str(ff.get("pictures", "-")),
         ratio(fv.get("pictures"), ff.get("pictures"))),
        ("CPU time (user+sys), s", fmt(fv["cpu"], "%.2f"), fmt(ff["cpu"], "%.2f"), ratio(fv["cpu"], ff["cpu"])),
        ("peak RSS, MB", fmt(fv["rss"], "%.1f"), fmt(ff["rss"], "%.1f"), ratio(fv["rss"], ff["rss"])),
        ("start (config -> started), ms", fmt(fv.get("start"), "%.0f", 1000), "-", ""),
        ("launch -> first frame, ms", fmt(fv.get("first_frame"), "%.0f", 1000),
         fmt(ff.get("first_frame"), "%.0f", 1000), ratio(fv.get("first_frame"), ff.get("first_frame"))),
        ("A/V click-flash median, ms", fmt(fv.get("offset"), "%+.1f", 1000), fmt(ff.get("offset"), "%+.1f", 1000),
         ""),
        ("drift last-first fifth, ms", fmt(fv.get("drift"), "%+.1f", 1000), fmt(ff.get("drift"), "%+.1f", 1000),
         ""),
        ("flash/click pairs", str(fv.get("pairs", "-")), str(ff.get("pairs", "-")), ""),
        ("file size, MB", fmt(fv.get("size"), "%.2f", 1e-6), fmt(ff.get("size"), "%.2f", 1e-6),
         ratio(fv.get("size"), ff.get("size"))),
        ("interval lengths / most common, ms", timing(fv), timing(ff), ""),
        ("frame rate mode (mediainfo)", str(fv.get("mode") or "-"), str(ff.get("mode") or "-"), ""),
        ("pictures - duration x 60", expected(fv), expected(ff), ""),
        ("MLT import: rate / length, frames", mlt(fv), mlt(ff), ""),
    ]
    if "after_stall" in fv or "after_stall" in ff:
        lines.append(("A/V median from 1 s after stall, ms", fmt(fv.get("after_stall"), "%+.1f", 1000),
                      fmt(ff.get("after_stall"), "%+.1f", 1000), ""))
    for name, a, b, r in lines:
        print("  %-34s %16s %16s %7s" % (name, a, b, r))
    if show_pairs:
        for name, r in zip(names, (fv, ff)):
            print("  %s click-flash per pair, ms:%s" % (name, "".join(" %+.0f" % (o * 1000) for o in r.get("offsets", []))))
    sys.stdout.flush()


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--quick", action="store_true", help="codec rows of 5 s, no drift row (about a minute)")
    p.add_argument("--rows", help="comma-separated rows: h264,h265,av1,drift,sway")
    p.add_argument("--duration", type=int, help="seconds per codec row (default 15, quick 5)")
    p.add_argument("--drift-duration", type=int, default=300, help="seconds of the drift row (default 300)")
    p.add_argument("--bitrate", type=int, default=8000, help="video bit rate in kbit/s for both (default 8000)")
    p.add_argument("--sound-server", choices=["pulseaudio", "pipewire"], default="pulseaudio")
    p.add_argument("--recorders", default="frelvanta,ffmpeg", help="which recorders run (default both)")
    p.add_argument("--build", default=os.path.join(ROOT, "build"), help="build folder (default build/)")
    p.add_argument("--pairs", action="store_true", help="also print each flash/click pair's offset")
    p.add_argument("--keep", action="store_true", help="keep the recordings and logs, and say where")
    p.add_argument("--ini", action="append", metavar="KEY=VALUE", help="an extra line of Frelvanta's INI (repeatable)")
    p.add_argument("--cfr", action="store_true",
                   help="compare Frelvanta with ConstantFrameRate=1 against Frelvanta without (instead of ffmpeg)")
    p.add_argument("--stall", type=float, help="stop the recorder for this many seconds (SIGSTOP, then SIGCONT)")
    p.add_argument("--stall-at", type=float, default=4.0, help="seconds after the launch the stall begins (default 4)")
    args = p.parse_args()

    rows = args.rows.split(",") if args.rows else (["h264", "h265", "av1"] + ([] if args.quick else ["drift"]))
    # The Wayland row runs in a desktop of its own (bench/wayland_bench.py).
    if "sway" in rows:
        code = subprocess.call([os.path.join(ROOT, "scripts", "wayland", "session.sh"), "/usr/bin/python3",
                                os.path.join(ROOT, "bench", "wayland_bench.py"), "--frelvanta",
                                os.path.join(args.build, "src", "frelvanta"), "--duration",
                                str(args.duration or (5 if args.quick else 15))])
        rows.remove("sway")
        if code != 0 or not rows:
            sys.exit(code)
    for r in rows:
        if r not in ROWS:
            p.error("unknown row " + r)
    duration = args.duration or (5 if args.quick else 15)
    recorders = ["frelvanta", "frelvanta-cfr"] if args.cfr else args.recorders.split(",")
    names = ("frelvanta", "frelvanta cfr") if args.cfr else ("frelvanta", "ffmpeg")
    for exe in (os.path.join(args.build, "src", "frelvanta"), os.path.join(args.build, "tests", "support", "fv_testcontent")):
        if not os.access(exe, os.X_OK):
            p.error("%s is missing: cmake --build %s --target frelvanta fv_testcontent" % (exe, args.build))

    # PipeWire's pieces find each other over D-Bus: the whole run goes into
    # a private session bus.
    if args.sound_server == "pipewire" and not os.environ.get("FV_BENCH_IN_DBUS"):
        os.environ["FV_BENCH_IN_DBUS"] = "1"
        os.execvp("dbus-run-session", ["dbus-run-session", "--", sys.executable] + sys.argv)

    work = tempfile.mkdtemp(prefix="frelvanta-e2e-bench.")
    procs = Processes()
    screen = None
    env = dict(os.environ)
    try:
        env = start_sound(procs, args.sound_server, work, env)
        server = subprocess.run(["pactl", "info"], env=env, capture_output=True, text=True).stdout
        name = next((l.split(":", 1)[1].strip() for l in server.splitlines() if l.startswith("Server Name")), "?")
        print("sound server: %s; CPU time and RSS are the recorder process's own" % name)
        screen = None  # (size, environment, Xvfb process)
        content = os.path.join(args.build, "tests", "support", "fv_testcontent")
        for row in rows:
            size, codec, encoder = ROWS[row]
            args.row_duration = args.drift_duration if row == "drift" else duration
            if screen is None or screen[0] != size:
                # One screen per size, kept for its rows.
                if screen:
                    screen[2].stop_all()
                screen_procs = Processes()
                screen = (size, None, screen_procs)
                screen = (size, dict(env, DISPLAY=start_display(screen_procs, size, env)), screen_procs)
            row_env = screen[1]
            log("%s: recording %d s with %s" % (row, args.row_duration, " and ".join(recorders)))
            results = {}
            for recorder in recorders if args.cfr else ("frelvanta", "ffmpeg"):
                if recorder not in recorders:
                    results[recorder] = {"exit": "-", "cpu": None, "rss": None}
                    continue
                # Fresh content for each recording: its frame numbers then
                # tell, from the time it painted frame 0, when the first
                # recorded frame was on the screen (a content running for
                # long drifts from 60 Hz on a loaded machine).
                content_procs = Processes()
                try:
                    ready = start_content(content_procs, content, row_env,
                                          os.path.join(work, "content-%s-%s.log" % (row, recorder)))
                    time.sleep(0.5)  # its sound stream settles
                    if recorder == "frelvanta":
                        results[recorder] = record_frelvanta(args, row, codec, row_env, work, ready)
                    elif recorder == "frelvanta-cfr":
                        results[recorder] = record_frelvanta(args, row, codec, row_env, work, ready,
                                                             ("ConstantFrameRate=1",))
                    else:
                        results[recorder] = record_ffmpeg(args, row, size, encoder, row_env, work, ready)
                finally:
                    content_procs.stop_all()
            second = "frelvanta-cfr" if args.cfr else "ffmpeg"
            print_row(row, size, codec, args.row_duration, results["frelvanta"], results[second], args.bitrate,
                      args.pairs, names)
    finally:
        if screen:
            screen[2].stop_all()
        procs.stop_all()
        if args.keep:
            log("recordings and logs are in " + work)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
