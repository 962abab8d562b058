#!/usr/bin/env python3
"""Decodes the recordings the Windows writer test wrote (run_writer_check.sh)
with the Linux ffprobe and ffmpeg: the picture stream, its frames and
background colour, the layout, and the 440 Hz tone in the sound track."""
import array
import json
import math
import subprocess
import sys
import unittest

FOLDER = sys.argv.pop(1) if len(sys.argv) > 1 else "."


def run(*args):
    return subprocess.run(args, check=True, capture_output=True).stdout


def streams(path):
    out = run("ffprobe", "-v", "error", "-count_frames", "-show_streams", "-of", "json", path)
    return {s["codec_type"]: s for s in json.loads(out)["streams"]}


def top_level_boxes(path):
    boxes = []
    with open(path, "rb") as f:
        while True:
            head = f.read(8)
            if len(head) < 8:
                return boxes
            size = int.from_bytes(head[:4], "big")
            boxes.append(head[4:].decode("latin-1"))
            if size == 1:
                size = int.from_bytes(f.read(8), "big") - 8
            if size < 8:
                return boxes
            f.seek(size - 8, 1)


class WrittenMedia(unittest.TestCase):
    # File, sound codec, fragmented, the first channel's level: the 0.25 sine
    # from stereo keeps its level; from mono it is spread over both
    # channels at -3 dB each (the resampler's pan law).
    CASES = [("fragmented-aac.mp4", "aac", True, 0.25 / math.sqrt(2)),
             ("plain-flac.mp4", "flac", False, 0.25 / 2)]

    def test_files_decode_with_picture_and_tone(self):
        for name, audio_codec, fragmented, level in self.CASES:
            with self.subTest(name):
                path = f"{FOLDER}/{name}"
                s = streams(path)
                v, a = s["video"], s["audio"]
                self.assertEqual(v["codec_name"], "h264")
                self.assertEqual(v["profile"], "High")
                self.assertEqual((v["width"], v["height"]), (640, 360))
                self.assertEqual(v["pix_fmt"], "yuv420p")
                self.assertEqual(v.get("color_range"), "tv")
                self.assertEqual(int(v["nb_read_frames"]), 60)
                num, den = map(int, v["avg_frame_rate"].split("/"))
                self.assertAlmostEqual(num / den, 30, delta=0.5)
                self.assertEqual(a["codec_name"], audio_codec)
                self.assertEqual((int(a["sample_rate"]), int(a["channels"])), (48000, 2))
                boxes = top_level_boxes(path)
                self.assertEqual(boxes[0], "ftyp")
                self.assertEqual("moof" in boxes, fragmented, boxes)

                # The background of the synthetic desktop (RGB 20 28 30) at
                # the top left corner of the middle picture.
                rgb = run("ffmpeg", "-v", "error", "-i", path, "-vf", "select=eq(n\\,30)", "-frames:v", "1",
                          "-f", "rawvideo", "-pix_fmt", "rgb24", "-")
                self.assertEqual(len(rgb), 640 * 360 * 3)
                for got, want in zip(rgb[:3], (0x20, 0x28, 0x30)):
                    self.assertLessEqual(abs(got - want), 4, list(rgb[:3]))

                # The tone: the first channel's middle second, level and frequency.
                pcm = array.array("f", run("ffmpeg", "-v", "error", "-i", path, "-map", "0:a", "-af", "pan=mono|c0=c0",
                                           "-f", "f32le", "-"))
                self.assertGreaterEqual(len(pcm), int(1.9 * 48000))
                mid = pcm[len(pcm) // 2 - 24000: len(pcm) // 2 + 24000]
                rms = math.sqrt(sum(x * x for x in mid) / len(mid))
                rising = sum(1 for p, q in zip(mid, mid[1:]) if p < 0 <= q)
                self.assertAlmostEqual(rms, level, delta=0.01)
                self.assertAlmostEqual(rising, 440, delta=5)


if __name__ == "__main__":
    unittest.main(verbosity=2)
