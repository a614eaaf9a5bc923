"""Noiseless measurements of every calibration method's standards through
random error boxes, in the e^{jwt} convention: the raw material of the
invariants suite. A new method joins by adding its scenario here."""
import dataclasses

import numpy as np

from orvane_ex._common.cascade import cascade
from orvane_ex.calibration import METHODS
from orvane_ex.calibration.kit import example_kit

C = 299792458.0


def reflection(box, gamma):
    """What a one-port of reflection gamma reads through a two-port box."""
    return box[:, 0, 0] + box[:, 0, 1] * box[:, 1, 0] * gamma / (1 - box[:, 1, 1] * gamma)


def terminate(S, gamma_f, gamma_r):
    """A switch-corrected two-port as a switching analyser reads it raw."""
    s11, s12, s21, s22 = S[:, 0, 0], S[:, 0, 1], S[:, 1, 0], S[:, 1, 1]
    out = np.empty_like(S)
    d = 1 - s22 * gamma_f
    out[:, 0, 0] = s11 + s12 * s21 * gamma_f / d
    out[:, 1, 0] = s21 / d
    d = 1 - s11 * gamma_r
    out[:, 1, 1] = s22 + s12 * s21 * gamma_r / d
    out[:, 0, 1] = s12 / d
    return out


@dataclasses.dataclass
class Scenario:
    method: str
    f: np.ndarray
    measured: dict           # standard name -> measurement, e^{jwt}
    options: dict            # the method's own options
    raw: np.ndarray          # a device as the analyser reads it
    device: np.ndarray       # the device's own S-parameters
    embed: object            # device S -> what the analyser reads

    @property
    def cls(self):
        return METHODS[self.method]


def _rng(seed):
    return np.random.default_rng(seed)


def _box(rng, n, matched=False):
    box = np.zeros((n, 2, 2), complex) + np.array([[0, 0.9], [0.85, 0]])
    box = box * np.exp(-1j * rng.uniform(0, np.pi, (1, 2, 2)))
    if not matched:
        box = box + 0.08 * (rng.standard_normal((n, 2, 2)) + 1j * rng.standard_normal((n, 2, 2)))
    return box


def _device(rng, n):
    return 0.4 * (rng.standard_normal((n, 2, 2)) + 1j * rng.standard_normal((n, 2, 2)))


def coaxial(method, seed=1, n=41, f=(1e9, 6e9), kit=None):
    """`kit`: the standards' true kit (the example kit's model by default)."""
    rng = _rng(seed)
    f = np.linspace(*f, n)
    X, Y = _box(rng, n, matched=method == "response"), _box(rng, n, matched=method == "response")
    Yr = Y[:, ::-1, ::-1]                     # port 2's box seen from its analyser side
    kit = kit or example_kit()
    G, T = kit.reflect(f, convention="engineering"), kit.thru(f, convention="engineering")
    measured = {}
    for port, box in ((1, X), (2, Yr)):
        for k, name in enumerate(("open", "short", "load")):
            measured[f"{name}{port}"] = reflection(box, G[:, k])
    switch = (0.1 * np.exp(1j * f / 1e9), 0.12 * np.exp(-1j * f / 2e9)) if method == "twelve-term" else None

    def embed(S):
        raw = cascade(X, S, Y)
        return terminate(raw, *switch) if switch else raw

    options = {}
    if method == "unknown-thru":
        # any reciprocal thru: a lossy 300 ps line with a little mismatch
        thru = np.zeros((n, 2, 2), complex)
        thru[:, 0, 1] = thru[:, 1, 0] = np.exp(-0.02 - 2j * np.pi * f * 300e-12)
        thru[:, 0, 0] = thru[:, 1, 1] = 0.03
        measured["thru"] = embed(thru)
    else:
        measured["thru"] = embed(T)
    if method == "twelve-term":
        loads = np.zeros((n, 2, 2), complex)
        loads[:, 0, 0] = loads[:, 1, 1] = G[:, 2]
        measured["isolation"] = embed(loads)
    standards = {s.name for s in METHODS[method].STANDARDS}
    measured = {k: v for k, v in measured.items() if k in standards}
    D = _device(rng, n)
    if method == "one-port":
        D = D[:, :1, :1]
        return Scenario(method, f, measured, options, reflection(X, D[:, 0, 0]), D[:, 0, 0],
                        lambda S: reflection(X, S))
    return Scenario(method, f, measured, options, embed(D), D, embed)


def lines(method, seed=1, n=41, f=(1e9, 20e9)):
    rng = _rng(seed)
    f = np.linspace(*f, n)
    X, Y = _box(rng, n), _box(rng, n)
    gamma = 0.5 * np.sqrt(f / 1e9) + 2j * np.pi * f / C * np.sqrt(3.2)
    lengths = [0.003] if method == "trl" else [0.003, 0.010, 0.035]

    def line(length):
        S = np.zeros((n, 2, 2), complex)
        S[:, 0, 1] = S[:, 1, 0] = np.exp(-gamma * length)
        return S

    reflect = np.zeros((n, 2, 2), complex)
    reflect[:, 0, 0] = reflect[:, 1, 1] = -0.98 * np.exp(-2 * gamma * 0.0002)

    def embed(S):
        return cascade(X, S, Y)

    measured = {"thru": embed(line(0)), "reflect": embed(reflect)}
    measured.update((f"line{i + 1}", embed(line(x))) for i, x in enumerate(lengths))
    D = _device(rng, n)
    return Scenario(method, f, measured, {"line_lengths": lengths, "er_est": 3.2}, embed(D), D, embed)


def onwafer(method, seed=1, n=41, f=(1e9, 110e9)):
    """An impedance standard substrate behind random probes: a 1 ps thru (TRM:
    a zero-length one), a 4 fF open, a 5 pH short, a match of 50.4 ohm and
    3 pH; LRRM fits the match's inductance."""
    rng = _rng(seed)
    f = np.linspace(*f, n)
    X, Y = _box(rng, n), _box(rng, n)
    w, z0 = 2 * np.pi * f, 50.0
    delay = 0.0 if method == "trm" else 1e-12
    thru = np.zeros((n, 2, 2), complex)
    thru[:, 0, 1] = thru[:, 1, 0] = np.exp(-1j * w * delay)
    R, L = 50.4, 3e-12
    match = (R + 1j * w * L - z0) / (R + 1j * w * L + z0)
    open_ = (1 - 1j * w * 4e-15 * z0) / (1 + 1j * w * 4e-15 * z0)
    short = (1j * w * 5e-12 - z0) / (1j * w * 5e-12 + z0)

    def both(G):
        S = np.zeros((n, 2, 2), complex)
        S[:, 0, 0] = S[:, 1, 1] = G
        return S

    def embed(S):
        return cascade(X, S, Y)

    measured = {"thru": embed(thru), "short": embed(both(short)), "open": embed(both(open_))}
    options = {"resistance": R} if method == "lrrm" else {"resistance": R, "inductance": L}
    if method != "trm":
        options["thru_delay"] = delay
    if method == "lrrm":
        measured["match"] = reflection(X, match)
    else:
        measured = {"thru": measured["thru"], "reflect": measured["short"], "match": embed(both(match))}
    D = _device(rng, n)
    return Scenario(method, f, measured, options, embed(D), D, embed)


def scenario(method, seed=1, **kw):
    if method in ("lrm", "lrrm", "trm"):
        return onwafer(method, seed, **kw)
    return lines(method, seed, **kw) if method in ("trl", "multiline-trl") else coaxial(method, seed, **kw)
