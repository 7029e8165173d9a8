"""Room parameters of an impulse response by ISO 3382-1, written apart from korvane-wav so
that its room table can be checked against something it does not share: octave bands by
sixth-order Butterworth band-pass filters (IEC 61260's usual class 1 octave filter), the
onset 20 dB under the largest value, Schroeder's backward integral, and least-squares lines
over 0/-10 (EDT), -5/-25 (T20) and -5/-35 dB (T30)."""

import numpy as np
from scipy import signal

OCTAVES = [63, 125, 250, 500, 1000, 2000, 4000, 8000]


def _decay_time(db, rate, top, bottom):
    idx = np.nonzero((db <= top) & (db >= bottom))[0]
    if len(idx) < 2:
        return float("nan")
    t = idx / rate
    slope = np.polyfit(t, db[idx], 1)[0]
    return -60.0 / slope if slope < 0 else float("nan")


def parameters(h, rate, centre=None):
    """EDT, T20, T30 in seconds and C80 in dB of h, in the octave at centre or broadband."""
    x = np.asarray(h, dtype=np.float64)
    if centre is not None:
        exact = 1000.0 * 2.0 ** round(np.log2(centre / 1000.0))
        sos = signal.butter(3, [exact / np.sqrt(2), exact * np.sqrt(2)], btype="bandpass",
                            fs=rate, output="sos")
        x = signal.sosfilt(sos, x)
    p = x * x
    onset = int(np.argmax(p >= 0.01 * p.max()))
    p = p[onset:]
    s = np.cumsum(p[::-1])[::-1]
    db = 10 * np.log10(np.maximum(s / s[0], 1e-300))
    early = int(0.08 * rate)
    return {
        "edt": _decay_time(db, rate, 0, -10),
        "t20": _decay_time(db, rate, -5, -25),
        "t30": _decay_time(db, rate, -5, -35),
        "c80": 10 * np.log10(p[:early].sum() / p[early:].sum()),
    }
