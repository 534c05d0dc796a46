#!/usr/bin/env python3
"""Looks at the audio host's output: mono signed 16-bit little-endian PCM at 48000 Hz.

As a program: writes the PCM as a WAV file, draws its waveform and spectrum into an SVG
file beside it (plain text, no plotting library) and prints duration, level and main
frequency.

    pcm_report.py CAPTURE.pcm [--wav OUT.wav] [--svg OUT.svg]

As a module: the measurements the whole-binary tests and the benchmark use (Goertzel tone
power, RMS level, main frequency) and the exact conversion of played stereo float samples to
the host's PCM, for bit-exact comparisons."""

import argparse
import array
import cmath
import math
import struct
import sys
import wave

RATE = 48000


def read_pcm(path):
    """The samples of a raw s16le file (a trailing odd byte is ignored)."""
    with open(path, "rb") as f:
        data = f.read()
    return pcm_samples(data)


def pcm_samples(data):
    samples = array.array("h")
    samples.frombytes(data[: len(data) // 2 * 2])
    if sys.byteorder != "little":
        samples.byteswap()
    return samples


def f32(value):
    """`value` rounded to a 32-bit float."""
    return struct.unpack("<f", struct.pack("<f", value))[0]


def downmix_s16(stereo):
    """The host's conversion of interleaved stereo float32 samples to mono s16 values:
    the channels summed and divided in 32-bit float, clamped to [-1, 1], times 32767 in
    32-bit float, truncated toward zero; NaN gives 0. (Sums and products of two 32-bit
    floats are exact in Python's doubles for the sample values tests play, so one rounding
    to 32 bits gives the 32-bit result.)"""
    out = array.array("h")
    for i in range(0, len(stereo) - 1, 2):
        mean = f32(f32(-0.0 + stereo[i] + stereo[i + 1]) / 2.0)
        if math.isnan(mean):
            out.append(0)
            continue
        mean = max(-1.0, min(1.0, mean))
        out.append(int(f32(mean * 32767.0)))
    return out


def rms(samples):
    """Root mean square of s16 samples, as a fraction of full scale."""
    if not samples:
        return 0.0
    return math.sqrt(sum(s * s for s in samples) / len(samples)) / 32767.0


def dbfs(value):
    return 20.0 * math.log10(value) if value > 0 else float("-inf")


def goertzel_power(samples, frequency, rate=RATE):
    """Power of one frequency, normalised so that a sine of amplitude A (fraction of full
    scale) gives about A*A/4."""
    n = len(samples)
    if n == 0:
        return 0.0
    coefficient = 2.0 * math.cos(2.0 * math.pi * frequency / rate)
    s1 = s2 = 0.0
    for value in samples:
        s0 = value / 32767.0 + coefficient * s1 - s2
        s2, s1 = s1, s0
    return (s1 * s1 + s2 * s2 - coefficient * s1 * s2) / (n * n)


def fft(values):
    """Radix-2 FFT of a list whose length is a power of two."""
    n = len(values)
    out = [complex(v) for v in values]
    j = 0
    for i in range(1, n):
        bit = n >> 1
        while j & bit:
            j ^= bit
            bit >>= 1
        j |= bit
        if i < j:
            out[i], out[j] = out[j], out[i]
    size = 2
    while size <= n:
        step = cmath.exp(-2j * math.pi / size)
        for start in range(0, n, size):
            w = 1.0
            for k in range(size // 2):
                a = out[start + k]
                b = out[start + k + size // 2] * w
                out[start + k] = a + b
                out[start + k + size // 2] = a - b
                w *= step
        size *= 2
    return out


def loudest_window(samples, size):
    """The `size` consecutive samples with the most energy, on a grid of size/4."""
    if len(samples) <= size:
        return list(samples) + [0] * (size - len(samples))
    best, best_energy = 0, -1.0
    for start in range(0, len(samples) - size + 1, size // 4):
        energy = sum(s * s for s in samples[start:start + size:8])
        if energy > best_energy:
            best, best_energy = start, energy
    return list(samples[best:best + size])


def spectrum(samples, size=8192):
    """Magnitudes (fraction of full scale) of the loudest window, Hann-windowed; bin k is
    k * RATE / size Hz."""
    window = loudest_window(samples, size)
    hann = [0.5 - 0.5 * math.cos(2 * math.pi * i / (size - 1)) for i in range(size)]
    bins = fft([w * h / 32767.0 for w, h in zip(window, hann)])
    return [2.0 * abs(b) / (size / 2) for b in bins[: size // 2]]


def main_frequency(samples, size=8192):
    """The strongest frequency in Hz (0 for silence), refined by Goertzel around the peak."""
    magnitudes = spectrum(samples, size)
    peak = max(range(1, len(magnitudes)), key=lambda k: magnitudes[k])
    if magnitudes[peak] <= 0:
        return 0.0
    window = loudest_window(samples, size)
    width = RATE / size
    candidates = [peak * width + width * (i / 20.0 - 1.0) for i in range(41)]
    return max(candidates, key=lambda f: goertzel_power(window, f))


def write_wav(path, samples):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        data = array.array("h", samples)
        if sys.byteorder != "little":
            data.byteswap()
        w.writeframes(data.tobytes())


def svg_picture(samples, title):
    """An SVG text with the waveform (min/max per column) above the spectrum (dB over a
    logarithmic frequency axis)."""
    width, height, margin = 900, 220, 40
    columns = width - 2 * margin
    parts = [
        '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" font-family="sans-serif" '
        'font-size="12">' % (width, 2 * height + 30),
        '<rect width="100%" height="100%" fill="white"/>',
        '<text x="%d" y="20">%s</text>' % (margin, escape(title)),
    ]
    # Waveform.
    top, mid = 30, 30 + height / 2
    parts.append('<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="#999"/>'
                 % (margin, top, columns, height - 20))
    scale = (height - 20) / 2.0 / 32768.0
    lines = []
    n = len(samples)
    for c in range(columns):
        chunk = samples[c * n // columns:max((c + 1) * n // columns, c * n // columns + 1)]
        if not chunk:
            continue
        lo, hi = min(chunk), max(chunk)
        x = margin + c + 0.5
        lines.append("M%.1f %.1fV%.1f" % (x, mid - 10 - hi * scale, mid - 10 - lo * scale + 0.5))
    parts.append('<path d="%s" stroke="#1f5fbf" stroke-width="1"/>' % "".join(lines))
    parts.append('<text x="%d" y="%d">waveform, %.2f s</text>'
                 % (margin, top + height - 5, n / RATE))
    # Spectrum.
    top = 30 + height + 10
    parts.append('<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="#999"/>'
                 % (margin, top, columns, height - 30))
    magnitudes = spectrum(samples) if n else []
    low, high = math.log10(20.0), math.log10(RATE / 2)
    points = []
    for k in range(1, len(magnitudes)):
        f = k * RATE / 8192.0
        if f < 20.0:
            continue
        x = margin + (math.log10(f) - low) / (high - low) * columns
        db = max(-100.0, dbfs(magnitudes[k]))
        y = top + (-db / 100.0) * (height - 30)
        points.append("%.1f,%.1f" % (x, y))
    parts.append('<polyline points="%s" fill="none" stroke="#bf3f1f" stroke-width="1"/>'
                 % " ".join(points))
    for f in (100, 1000, 10000):
        x = margin + (math.log10(f) - low) / (high - low) * columns
        parts.append('<text x="%.1f" y="%d" text-anchor="middle">%s Hz</text>'
                     % (x, top + height - 15, f))
    parts.append('<text x="%d" y="%d">spectrum of the loudest 8192 samples, 0 to -100 dBFS</text>'
                 % (margin + 5, top + 15))
    parts.append("</svg>\n")
    return "\n".join(parts)


def escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def summary(samples):
    """Duration, RMS and peak level and main frequency as one text."""
    duration = len(samples) / RATE
    level = rms(samples)
    peak = max((abs(s) for s in samples), default=0) / 32767.0
    frequency = main_frequency(samples) if level > 0 else 0.0
    return ("duration %.2f s, level %.1f dBFS RMS (peak %.1f dBFS), main frequency %.1f Hz"
            % (duration, dbfs(level), dbfs(peak), frequency))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("pcm")
    parser.add_argument("--wav")
    parser.add_argument("--svg")
    args = parser.parse_args()
    samples = read_pcm(args.pcm)
    if args.wav:
        write_wav(args.wav, samples)
    if args.svg:
        with open(args.svg, "w", encoding="utf-8") as f:
            f.write(svg_picture(samples, "quorle_audio_host capture: " + summary(samples)))
    print(summary(samples))
    return 0


if __name__ == "__main__":
    sys.exit(main())
