#!/usr/bin/env python3
"""Decodes the recordings that frelvanta.exe made under Wine
(run_recording_check.sh) with the Linux ffprobe and ffmpeg. The command-line
recording: length, pictures that change, the colours the test's window
painted, the tone that played on the sound server, and both tracks ending
together. The recording whose process was killed and that the next start
recovered: both tracks decode up to its last fragment. The recording that a
shortcut started after the countdown: the picture decodes. The recording of
flashes and clicks (run_exe_scenarios.sh): each click with its flash. The
recording whose sound server went away: the sound track still runs to the
end of the picture.
  check_recording.py [monitor=<file>] [recovered=<file>] [shortcut=<file>] [av=<file>] [lost=<file>]
Only the recordings named are checked."""
import array
import hashlib
import json
import math
import subprocess
import sys
import unittest

FILES = dict(arg.split("=", 1) for arg in sys.argv[1:])
SECONDS = 4.0
WIDTH, HEIGHT = 640, 360
LEFT, RIGHT = (200, 30, 90), (30, 160, 220)  # the window's two halves
TONE_HZ, TONE_AMPLITUDE = 1000, 0.5            # with_tone.sh


def run(*args):
    return subprocess.run(args, check=True, capture_output=True).stdout


def probe(path):
    out = run("ffprobe", "-v", "error", "-count_frames", "-show_streams", "-show_format", "-of", "json", path)
    return {s["codec_type"]: s for s in json.loads(out)["streams"]}


def pictures(path):
    """Every picture as RGB bytes, in file order."""
    raw = run("ffmpeg", "-v", "error", "-i", path, "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "rgb24", "-")
    size = WIDTH * HEIGHT * 3
    return [raw[i:i + size] for i in range(0, len(raw) - size + 1, size)]


def assert_window_colours(test, picture):
    """The painted window's two halves, within the coding's error."""
    for x, y, want in ((WIDTH // 4, HEIGHT * 2 // 3, LEFT), (WIDTH * 3 // 4, HEIGHT * 2 // 3, RIGHT)):
        i = (y * WIDTH + x) * 3
        got = tuple(picture[i:i + 3])
        for g, w in zip(got, want):
            test.assertLessEqual(abs(g - w), 12, (x, y, got, want))


class CommandLineRecording(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.path = FILES["monitor"]
        cls.streams = probe(cls.path)

    def test_picture_track(self):
        v = self.streams["video"]
        self.assertEqual(v["codec_name"], "h264")
        self.assertEqual((v["width"], v["height"]), (WIDTH, HEIGHT))
        # Under Wine on a machine busy with the other test passes the timed
        # stop and the first sound come late by up to a second (seen: 4.95 s
        # for 4 s, the picture ending 0.9 s after the sound; a quieter
        # run it gave 3.92 s, with the tracks ending within half a second).
        self.assertAlmostEqual(float(v["duration"]), SECONDS, delta=1.0)
        frames = pictures(self.path)
        self.assertEqual(len(frames), int(v["nb_read_frames"]))
        distinct = len({hashlib.md5(f).digest() for f in frames})
        print(f"[ figures ] {len(frames)} pictures, {distinct} distinct, video {float(v['duration']):.3f} s")
        # The square moves every 30 ms, so a picture taken after a repaint is
        # new. Under Wine the screen reader takes 20 to 30 new pictures a
        # second of the 1920x1080 screen on a busy machine (111 distinct of
        # 173 seen), but with the other test passes beside it the window
        # itself repaints late (once 7 distinct of 22): the floor is that the
        # picture keeps moving, one new picture a second.
        self.assertGreaterEqual(distinct, SECONDS)
        assert_window_colours(self, frames[len(frames) // 2])

    def test_sound_track_has_the_tone_and_ends_with_the_picture(self):
        v, a = self.streams["video"], self.streams["audio"]
        self.assertEqual(a["codec_name"], "aac")
        self.assertEqual((int(a["sample_rate"]), int(a["channels"])), (48000, 2))
        v_end = float(v.get("start_time", 0)) + float(v["duration"])
        a_end = float(a.get("start_time", 0)) + float(a["duration"])
        self.assertLessEqual(abs(v_end - a_end), 1.0, (v_end, a_end))  # see the duration check
        pcm = array.array("f", run("ffmpeg", "-v", "error", "-i", self.path, "-map", "0:a", "-af", "pan=mono|c0=c0",
                                   "-f", "f32le", "-"))
        # The monitor input's first packets come 1.2 to 1.8 s late under
        # Wine: the last second carries the tone.
        self.assertGreaterEqual(len(pcm), int((SECONDS - 0.5) * 48000))
        last = pcm[len(pcm) - 48000 - 4800: len(pcm) - 4800]
        rms = math.sqrt(sum(x * x for x in last) / len(last))
        # Rising crossings with a dead band, so coding noise near zero
        # does not count twice.
        rising, low = 0, False
        for x in last:
            if x < -0.1:
                low = True
            elif x > 0.1 and low:
                rising, low = rising + 1, False
        print(f"[ figures ] tone rms {rms:.4f}, rising crossings {rising} in 1 s")
        self.assertAlmostEqual(rms, TONE_AMPLITUDE / math.sqrt(2), delta=0.05)
        # On a busy machine Wine's monitor input reports packet times with
        # jitter, and the sound engine drops the stretch a late packet
        # overlaps (seen once: 24 ms, 976 crossings). A wrong rate is off
        # by far more (44.1 kHz taken for 48 kHz: 8 %).
        self.assertAlmostEqual(rising, TONE_HZ, delta=30)


class KilledRecording(unittest.TestCase):
    """The process was killed after the file held three fragments; the next
    start renamed it. A fragmented file plays up to its last whole fragment,
    whatever the kill tore after it."""

    def test_recovered_file_decodes(self):
        path = FILES["recovered"]
        streams = probe(path)
        v, a = streams["video"], streams["audio"]
        self.assertEqual(v["codec_name"], "h264")
        self.assertEqual((v["width"], v["height"]), (WIDTH, HEIGHT))
        frames = pictures(path)
        self.assertEqual(len(frames), int(v["nb_read_frames"]))
        video_s = float(v["duration"])
        print(f"[ figures ] recovered: {len(frames)} pictures, video {video_s:.3f} s, "
              f"sound {float(a['duration']):.3f} s")
        # Two whole fragments of about a second each came before the kill.
        self.assertGreaterEqual(video_s, 1.0)
        self.assertGreaterEqual(len(frames), 2)
        assert_window_colours(self, frames[len(frames) // 2])
        self.assertEqual(a["codec_name"], "aac")
        pcm = run("ffmpeg", "-v", "error", "-i", path, "-map", "0:a", "-f", "f32le", "-")
        self.assertGreater(len(pcm), 0)


class ShortcutRecording(unittest.TestCase):
    """Started by the monitor shortcut after the countdown, stopped by the
    same shortcut about a second and a half after its first picture; it
    holds whatever the test display showed."""

    def test_picture_decodes(self):
        path = FILES["shortcut"]
        v = probe(path)["video"]
        self.assertEqual(v["codec_name"], "h264")
        self.assertEqual((v["width"], v["height"]), (WIDTH, HEIGHT))
        frames = pictures(path)
        print(f"[ figures ] shortcut: {len(frames)} pictures, video {float(v['duration']):.3f} s")
        self.assertEqual(len(frames), int(v["nb_read_frames"]))
        self.assertGreaterEqual(len(frames), 1)


class FlashAndClickRecording(unittest.TestCase):
    """The Linux test content turns the screen white and clicks at the same
    instant once a second; in the file each flash must come with its click.
    Under Wine the recording runs at the compositor's 60 a second."""
    FRAME = 1 / 60

    def flashes(self, path):
        """Times at which the picture turns white (below the number strip)."""
        times = [float(f["pts_time"]) for f in json.loads(run(
            "ffprobe", "-v", "error", "-select_streams", "v", "-show_frames", "-show_entries", "frame=pts_time",
            "-of", "json", path))["frames"]]
        raw = run("ffmpeg", "-v", "error", "-i", path, "-fps_mode", "passthrough", "-f", "rawvideo",
                  "-pix_fmt", "gray", "-")
        size = WIDTH * HEIGHT
        bright = [sum(raw[i + WIDTH * 100:i + WIDTH * 300:7]) / len(range(WIDTH * 100, WIDTH * 300, 7))
                  for i in range(0, len(raw) - size + 1, size)]
        self.assertEqual(len(bright), len(times))
        return [times[i] for i in range(1, len(bright)) if bright[i] > 128 >= bright[i - 1]]

    def clicks(self, path):
        """Times of the clicks: the first loud sample after half a second of
        none (the content's tone stays at 0.2)."""
        a = probe(path)["audio"]
        start = float(a.get("start_time", 0))
        pcm = array.array("f", run("ffmpeg", "-v", "error", "-i", path, "-map", "0:a", "-af", "pan=mono|c0=c0",
                                   "-f", "f32le", "-"))
        out, last = [], None
        for i, x in enumerate(pcm):
            if abs(x) > 0.5:
                if last is None or i - last > 24000:
                    out.append(start + i / 48000)
                last = i
        return out

    def test_each_click_with_its_flash(self):
        path = FILES["av"]
        flashes, clicks = self.flashes(path), self.clicks(path)
        self.assertTrue(clicks)
        # Pairs of a flash and the click nearest to it, within half a
        # second. Some flashes have none: Wine's monitor input delivers its
        # first sound 1.2 to 1.8 s late, and on a busy machine its packet
        # times jitter by tens of milliseconds, once 218 ms, which the sound
        # engine evens out by dropping overlaps (a click can go with them)
        # and filling gaps with silence. The screen reader may also miss a
        # flash while its first pictures come slowly.
        offsets = []
        for f in flashes:
            o = min(clicks, key=lambda c: abs(c - f)) - f
            if abs(o) < 0.5:
                offsets.append(o)
        print("[ figures ] click - flash per flash, ms: " + " ".join(f"{o * 1000:+.1f}" for o in offsets)
              + f"; {len(flashes)} flashes, {len(clicks)} clicks")
        # A 6-s recording holds five or six flashes.
        self.assertGreaterEqual(len(offsets), 3)
        # Single pairs scatter with that jitter; the median shows whether
        # picture and sound sit together: within two frames.
        median = sorted(offsets)[len(offsets) // 2]
        self.assertLessEqual(abs(median), 2 * self.FRAME, f"median click - flash {median * 1000:+.1f} ms")

class LostSoundRecording(unittest.TestCase):
    """Six seconds; the sound server went away two seconds in and came back
    only after the stop. From the loss on the track holds silence, up to the
    end of the picture."""

    def test_sound_runs_to_the_end(self):
        streams = probe(FILES["lost"])
        v, a = streams["video"], streams["audio"]
        v_end = float(v.get("start_time", 0)) + float(v["duration"])
        a_end = float(a.get("start_time", 0)) + float(a["duration"])
        print(f"[ figures ] sound server gone at 2 s: picture ends {v_end:.3f} s, sound {a_end:.3f} s")
        self.assertGreater(float(v["duration"]), 5.0)
        # As for the command-line recording: Wine's late first sound and
        # stop on a busy machine allow a second.
        self.assertLessEqual(abs(v_end - a_end), 1.0, (v_end, a_end))


if __name__ == "__main__":
    named = {"monitor": CommandLineRecording, "recovered": KilledRecording, "shortcut": ShortcutRecording,
             "av": FlashAndClickRecording, "lost": LostSoundRecording}
    suite = unittest.TestSuite(unittest.defaultTestLoader.loadTestsFromTestCase(named[k]) for k in FILES)
    sys.exit(0 if unittest.TextTestRunner(verbosity=2).run(suite).wasSuccessful() else 1)
