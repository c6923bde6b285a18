#!/usr/bin/env python3
"""Writes the three feedback sounds into resources/sounds/ (44.1 kHz mono 16-bit WAV).

Pop   - start of a recording: a short, soft blip that falls in pitch.
Tink  - text inserted: a small bright bell.
Basso - something failed: a low, dull double thud.
"""
import math
import os
import struct
import wave

RATE = 44100
HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "resources", "sounds")


def envelope(t, attack, decay):
    if t < attack:
        return t / attack
    return math.exp(-(t - attack) / decay)


def pop():
    n = int(0.09 * RATE)
    out, phase = [], 0.0
    for i in range(n):
        t = i / RATE
        freq = 900 * math.exp(-t * 18) + 260
        phase += 2 * math.pi * freq / RATE
        out.append(0.55 * envelope(t, 0.003, 0.022) * math.sin(phase))
    return out


def tink():
    n = int(0.35 * RATE)
    out = []
    for i in range(n):
        t = i / RATE
        e = envelope(t, 0.002, 0.07)
        s = (math.sin(2 * math.pi * 2637 * t) + 0.45 * math.sin(2 * math.pi * 5274 * t + 0.3)
             + 0.2 * math.sin(2 * math.pi * 7040 * t + 1.1) * math.exp(-t * 40))
        out.append(0.32 * e * s)
    return out


def basso():
    n = int(0.5 * RATE)
    out = []
    for i in range(n):
        t = i / RATE
        e = envelope(t, 0.004, 0.06) + 0.8 * (envelope(t - 0.18, 0.004, 0.09) if t >= 0.18 else 0.0)
        s = 0.0
        for k, amp in ((1, 1.0), (2, 0.5), (3, 0.33), (5, 0.15)):
            s += amp * math.sin(2 * math.pi * 98 * k * t)
        out.append(0.3 * e * s)
    return out


def write(name, samples):
    fade = int(0.004 * RATE)  # no click at the end
    for i in range(min(fade, len(samples))):
        samples[-1 - i] *= i / fade
    path = os.path.join(OUT, name + ".wav")
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(struct.pack("<h", max(-32767, min(32767, int(round(s * 32767)))))
                               for s in samples))
    print(path)


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    write("Pop", pop())
    write("Tink", tink())
    write("Basso", basso())
