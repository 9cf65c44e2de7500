#!/usr/bin/env python3
"""Audio and state helpers for lv2-host-check.sh (standard library only).

  signal OUT.wav                       writes the test signal: one tone burst after a silent lead-in
  check REC.wav --echo|--no-echo [--like REF.wav]
                                       judges a recording of the plug-in playing that signal
  state STATE.ttl NAME=VALUE...        checks parameter values inside a state a host saved

Recordings come through JACK, so nothing here relies on exact sample positions: everything is
measured from the burst's onset in the recording itself, as energy over windows.
"""
import math
import re
import struct
import sys
import wave
from array import array

RATE = 48000
LEAD_IN_S = 0.5      # covers the player connecting to the plug-in after it starts rolling
BURST_S = 0.06
LENGTH_S = 1.6
# EchoDelay=60 in the check: (0.6^2 + 0.0001) s.
ECHO_DELAY_MS = 360.1


def write_signal(path):
    n, start, length = int(LENGTH_S * RATE), int(LEAD_IN_S * RATE), int(BURST_S * RATE)
    fade = int(0.005 * RATE)
    frames = bytearray(4 * n)
    for k in range(length):
        gain = 1.0
        if k < fade:
            gain = 0.5 - 0.5 * math.cos(math.pi * k / fade)
        elif k >= length - fade:
            gain = 0.5 - 0.5 * math.cos(math.pi * (length - k) / fade)
        v = int(round(0.5 * gain * math.sin(2.0 * math.pi * 1000.0 * k / RATE) * 32767))
        struct.pack_into("<hh", frames, 4 * (start + k), v, v)
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(bytes(frames))


def read_wav(path):
    """Interleaved samples of a float or 16-bit PCM WAV (what jack-record and jack_rec write)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise ValueError(f"{path} is not a WAV file")
    pos, fmt, body = 12, None, None
    while pos + 8 <= len(data):
        chunk, size = data[pos:pos + 4], struct.unpack_from("<I", data, pos + 4)[0]
        if chunk == b"fmt ":
            fmt = struct.unpack_from("<HHIIHH", data, pos + 8)
            if fmt[0] == 0xFFFE:  # extensible: the real format tag opens the subformat GUID
                fmt = (struct.unpack_from("<H", data, pos + 32)[0],) + fmt[1:]
        elif chunk == b"data":
            # A recorder stopped hard may leave the size unpatched: take what is there.
            body = data[pos + 8:pos + 8 + size] if size else data[pos + 8:]
            break
        pos += 8 + size + (size & 1)
    if fmt is None or body is None:
        raise ValueError(f"{path} has no fmt or data chunk")
    tag, channels, rate, _, _, bits = fmt
    if tag == 3 and bits == 32:
        samples = array("f")
        samples.frombytes(body[:len(body) // 4 * 4])
    elif tag == 1 and bits == 16:
        samples = array("h")
        samples.frombytes(body[:len(body) // 2 * 2])
        samples = array("f", (s / 32768.0 for s in samples))
    else:
        raise ValueError(f"{path}: unsupported format {tag}/{bits} bit")
    if sys.byteorder != "little":
        samples.byteswap()
    return channels, rate, samples


class Measure:
    """Levels of one recording around the burst, on a 1 ms grid."""

    def __init__(self, path):
        self.path = path
        channels, rate, x = read_wav(path)
        if rate != RATE:
            raise ValueError(f"{path} runs at {rate} Hz, not {RATE}")
        self.frames = len(x) // channels
        self.finite = all(math.isfinite(v) for v in x)
        self.peak = max((abs(v) for v in x if math.isfinite(v)), default=0.0)
        hop = RATE // 1000
        self.energy = []
        for i in range(0, self.frames - hop + 1, hop):
            seg = x[i * channels:(i + hop) * channels]
            self.energy.append(sum(v * v for v in seg if math.isfinite(v)) / len(seg))
        loudest = max(self.energy, default=0.0)
        # Onset: the first millisecond within 20 dB of the loudest, which is the burst's first pass.
        self.onset = next((i for i, e in enumerate(self.energy) if loudest > 0 and e >= 0.01 * loudest), None)

    def rms(self, start_ms, end_ms):
        span = self.energy[max(0, int(start_ms)):max(0, int(end_ms))]
        return math.sqrt(sum(span) / len(span)) if span else 0.0

    def levels(self):
        """Burst level (dBFS), then gap and echo-window levels relative to the burst (dB), echo lag (ms)."""
        o, b, d = self.onset, BURST_S * 1000, ECHO_DELAY_MS
        burst = self.rms(o, o + b + 20)
        # Generous margins: a server overrun (xrun) drops or repeats whole 10.7 ms cycles.
        gap = self.rms(o + b + 40, o + d - 80)
        echo_start, echo_end = o + d - 60, o + d + b + 60
        echo = self.rms(echo_start, echo_end)
        window = self.energy[int(echo_start):int(echo_end)]
        top = max(window, default=0.0)
        db = lambda v, ref: max(-120.0, 20 * math.log10(v / ref)) if v > 0 and ref > 0 else -120.0
        lag = None
        if db(echo, burst) > -60:
            lag = next(int(echo_start) + i - o for i, e in enumerate(window) if e >= 0.1 * top)
        return db(burst, 1.0), db(gap, burst), db(echo, burst), lag


def check(path, expect_echo, like=None):
    m = Measure(path)
    problems = []
    needed = int((ECHO_DELAY_MS / 1000 + BURST_S + 0.15) * RATE)
    if not m.finite:
        problems.append("non-finite samples")
    if m.peak >= 1.0:
        problems.append(f"clipped (peak {m.peak:.3f})")
    if m.peak < 0.01:
        problems.append(f"silent (peak {m.peak:.5f})")
    if m.onset is None or (m.frames - (m.onset * RATE // 1000)) < needed:
        problems.append("the burst and what follows it are not all in the recording")
    if problems:
        return f"{path}: " + ", ".join(problems), None
    burst, gap, echo, lag = m.levels()
    lag_text = f"+{lag} ms" if lag is not None else "none"
    summary = (f"burst {burst:.1f} dBFS at {m.onset} ms, gap {gap:.1f} dB, echo window {echo:.1f} dB "
               f"(onset {lag_text}), peak {m.peak:.3f}, {m.frames} frames")
    if expect_echo:
        if echo < -30 or echo - gap < 20:
            problems.append(f"no echo {ECHO_DELAY_MS:.0f} ms after the burst")
        elif lag is None or abs(lag - ECHO_DELAY_MS) > 45:
            problems.append(f"the echo comes at {lag_text}, not +{ECHO_DELAY_MS:.0f} ms")
    elif echo > -40:
        problems.append("a repeat of the burst where the defaults have none")
    if like is not None and not problems:
        ref_burst, _, ref_echo, ref_lag = Measure(like).levels()
        if abs(burst - ref_burst) > 2 or abs(echo - ref_echo) > 2 or abs(lag - ref_lag) > 45:
            problems.append(f"differs from {like}: burst {ref_burst:.1f} dBFS, echo {ref_echo:.1f} dB at +{ref_lag} ms")
    return (f"{path}: " + ", ".join(problems) if problems else None), summary


def juce_base64(text):
    """Decodes JUCE's MemoryBlock text form, "<size>.<6-bit digits, least significant first>"."""
    size, _, digits = text.partition(".")
    table = ".ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+"
    value = 0
    for i, c in enumerate(digits):
        value |= table.index(c) << (6 * i)
    return value.to_bytes((6 * len(digits) + 7) // 8, "little")[:int(size)]


def state_params(path):
    with open(path, encoding="utf-8") as f:
        ttl = f.read()
    found = re.search(r':StateString>\s+"([0-9]+\.[^"]*)"', ttl)
    if not found:
        raise ValueError(f"{path} holds no plug-in state string")
    blob = juce_base64(found.group(1))
    # copyXmlToBinary's framing: a magic number and the text length ahead of the XML.
    magic, length = struct.unpack_from("<II", blob)
    if magic != 0x21324356:
        raise ValueError(f"{path}: the state string is not the plug-in's XML state")
    xml = blob[8:8 + length].decode("utf-8")
    params = re.search(r"<PARAMS\b([^>]*)/?>", xml)
    if not params:
        raise ValueError(f"{path}: no parameters in the plug-in's state")
    return {k: float(v) for k, v in re.findall(r'(\w+)="([^"]*)"', params.group(1))}


def main(argv):
    if len(argv) >= 2 and argv[0] == "signal":
        write_signal(argv[1])
        return 0
    if len(argv) >= 3 and argv[0] == "check" and argv[2] in ("--echo", "--no-echo"):
        like = argv[4] if len(argv) >= 5 and argv[3] == "--like" else None
        problem, summary = check(argv[1], argv[2] == "--echo", like)
        if summary:
            print(summary)
        if problem:
            print(problem, file=sys.stderr)
            return 1
        return 0
    if len(argv) >= 2 and argv[0] == "state":
        params = state_params(argv[1])
        wrong = []
        for pair in argv[2:]:
            name, _, value = pair.partition("=")
            got = params.get(name)
            if got is None or abs(got - float(value)) > 1e-3 * max(1.0, abs(float(value))):
                wrong.append(f"{name}={got} (set {value})")
        print("saved parameters: " + " ".join(f"{k}={v:g}" for k, v in params.items()))
        if wrong:
            print("the saved state has " + ", ".join(wrong), file=sys.stderr)
            return 1
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except (OSError, ValueError, struct.error) as e:
        print(e, file=sys.stderr)
        sys.exit(1)
