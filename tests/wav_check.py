#!/usr/bin/env python3
"""Reads sorvik's WAV files back with Python's own wave module and checks every sample against
an independent decoder written here from the format's description.

Usage: wav_check.py SORVIK_BINARY SOURCE_DIR CORPUS_DIR

It converts the bundled samples and the real files of the corpus in a temporary folder, then for
each WAV file checks the RIFF layout as the wave module reads it (channels, rate, width, frame
count) and compares the PCM bytes with this script's decoding. Python floats are IEEE doubles,
so the same operations in the same order give the same values."""

import glob
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import wave

COEFFICIENTS = [(0.0, 0.0), (60 / 64, 0.0), (115 / 64, -52 / 64), (98 / 64, -55 / 64),
                (122 / 64, -60 / 64)]


def narrow(value):
    biased = value + 0.5
    truncated = int(biased)  # toward zero
    return max(-32768, min(32767, truncated))


def decode_block(block, history):
    predictor, shift = block[0] >> 4, block[0] & 15
    c0, c1 = COEFFICIENTS[predictor] if predictor < 5 else COEFFICIENTS[0]
    s1, s2 = history
    samples = []
    for byte in block[2:16]:
        for nibble in (byte & 15, byte >> 4):
            signed = nibble - 16 if nibble >= 8 else nibble
            scaled = (signed * 4096) >> shift  # Python's >> floors, as the arithmetic shift does
            value = (scaled + c1 * s2) + c0 * s1
            s2, s1 = s1, value
            samples.append(narrow(value))
    return samples, (s1, s2)


def decode_mono(data):
    history, samples = (0.0, 0.0), []
    for start in range(0, len(data) - len(data) % 16, 16):
        block = data[start:start + 16]
        if block[1] == 7:
            samples += [0] * 28
            break
        decoded, history = decode_block(block, history)
        samples += decoded
    return samples


def decode_stereo(data):
    left, right, frames = (0.0, 0.0), (0.0, 0.0), []
    for start in range(0, len(data) - len(data) % 32, 32):
        pair = [0] * 56
        left_block, right_block = data[start:start + 16], data[start + 16:start + 32]
        if left_block[1] != 7:
            decoded, left = decode_block(left_block, left)
            pair[0::2] = decoded
        if right_block[1] == 7:
            pair = [0] * 56
        else:
            decoded, right = decode_block(right_block, right)
            pair[1::2] = decoded
        frames += pair
    return frames


def expected_wav(image):
    """(channels, rate, samples) that a correct conversion of the image holds."""
    magic = image[0:4]
    size, rate = struct.unpack(">II", image[12:20])
    channels = 2 if magic == b"STER" else 1
    data = image[48:48 + size * channels]
    samples = decode_stereo(data) if channels == 2 else decode_mono(data)
    return channels, rate, samples


def check(wav_path, image_path):
    with open(image_path, "rb") as source:
        channels, rate, samples = expected_wav(source.read())
    with wave.open(wav_path, "rb") as reader:
        assert reader.getnchannels() == channels, (wav_path, reader.getnchannels())
        assert reader.getframerate() == rate, (wav_path, reader.getframerate())
        assert reader.getsampwidth() == 2, wav_path
        assert reader.getnframes() * channels == len(samples), (wav_path, reader.getnframes())
        pcm = reader.readframes(reader.getnframes())
    assert pcm == struct.pack("<%dh" % len(samples), *samples), wav_path + ": samples differ"
    assert os.path.getsize(wav_path) == 44 + 2 * len(samples), wav_path + ": trailing bytes"
    return len(samples)


def main():
    binary, source_dir, corpus_dir = sys.argv[1:4]
    checked = 0
    with tempfile.TemporaryDirectory() as folder:
        inputs = os.path.join(folder, "in")
        os.mkdir(inputs)
        sources = glob.glob(os.path.join(source_dir, "samples", "*.vag"))
        sources += [path for path in glob.glob(os.path.join(corpus_dir, "*.vag"))
                    if "spustream" not in path]  # an interleaved format we do not read
        for path in sources:
            shutil.copy(path, inputs)
        out = os.path.join(folder, "out")
        result = subprocess.run([binary, os.path.join(inputs, "*.vag"), out],
                                stdin=subprocess.DEVNULL, capture_output=True)
        assert result.returncode == 0, result.stdout
        for path in sources:
            name = os.path.splitext(os.path.basename(path))[0]
            samples = check(os.path.join(out, name + ".WAV"), path)
            print("ok %-32s %8d samples" % (name, samples))
            checked += 1
    assert checked >= 7, "expected the samples and the corpus, found %d files" % checked
    print("%d passed, 0 failed" % checked)


if __name__ == "__main__":
    main()
