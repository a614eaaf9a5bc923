"""Monte Carlo propagation (GUM Supplement 1) over the same budget as the
linear method: every influence drawn at random, the calibration solved
again and the device corrected again, trial after trial; seeded, so that a
run repeats. It checks the linear method, and serves where that is not
enough (near |S| = 0, where a phase has no linear uncertainty)."""
from __future__ import annotations

import numpy as np

from .budget import Budget
from .linear import LN10_20, reading
from .result import UncertainS

__all__ = ["monte_carlo", "drawn_standards"]


def _draw(rng, cov: np.ndarray) -> np.ndarray:
    """Complex perturbations [trials, ...] of covariances cov [..., 2, 2]."""
    # the square root of a 2x2 covariance, by its eigen-decomposition (a zero variance is allowed)
    w, V = np.linalg.eigh(cov)
    L = V * np.sqrt(np.maximum(w, 0))[..., None, :]
    z = rng.standard_normal((rng.trials,) + cov.shape[:-1])
    x = np.einsum("...ij,t...j->t...i", L, z)
    return x[..., 0] + 1j * x[..., 1]


class _Source:
    """A seeded generator that knows how many trials it draws at once."""

    def __init__(self, seed, trials):
        self.generator = np.random.default_rng(seed)
        self.trials = trials

    def standard_normal(self, shape=None):
        return self.generator.standard_normal(shape)


def _noisy(rng, S, f, budget: Budget) -> np.ndarray:
    """Readings S [n, ...] with the budget's noise and linearity drawn."""
    return S[None] + _draw(rng, reading(S, f, budget))


def _circular(rng, shape, u) -> np.ndarray:
    return u / np.sqrt(2) * (rng.standard_normal((rng.trials,) + shape) + 1j * rng.standard_normal((rng.trials,) + shape))


def monte_carlo(cal, Sm, budget: Budget, *, trials: int = 1000, seed: int = 0, batch: int = 200) -> UncertainS:
    """The corrected measurement Sm (as `cal.apply(Sm, budget=budget)` takes
    it) with the covariance of `trials` Monte Carlo trials over `budget`:
    the standards' readings, the kit's coefficients, the connections, the
    device's reading, connections, cables and drift, and TRL's own
    influences, drawn independently in each trial."""
    from ..calibration import uncertain

    Sm = np.asarray(Sm, complex)
    if cal.uncertainty:
        raise ValueError("Monte Carlo draws the calibration's influences itself: give a calibration without kept "
                         "uncertainty (its budget is in `budget`)")
    nominal = cal.apply(Sm)
    samples = []
    done = 0
    source = _Source(seed, 0)
    while done < trials:
        source.trials = min(batch, trials - done)
        if cal.SENSITIVITY_MODEL == "eight-term" and cal.method in ("trl", "multiline-trl"):
            samples.append(_trl_trials(cal, Sm, budget, source))
        else:
            samples.append(_solt_trials(cal, Sm, budget, source, uncertain))
        done += source.trials
    x = np.concatenate(samples).reshape(trials, len(cal.f), -1)
    flat = np.stack([x.real, x.imag], axis=-1).reshape(trials, len(cal.f), -1)
    centred = flat - flat.mean(axis=0)
    cov = np.einsum("tna,tnb->nab", centred, centred) / (trials - 1)
    return UncertainS(cal.f, nominal, cov, {"Monte Carlo": cov}, cal.convention)


def _device(cal, Sm, budget: Budget, rng) -> np.ndarray:
    """The device's raw readings [trials, n, 2, 2] (one port: [trials, n])
    with its noise, cables and drift drawn."""
    f = cal.f
    raw = _noisy(rng, Sm, f, budget)
    from ..calibration.uncertain import _directivity

    d1, d2 = _directivity(cal)
    for ports in (budget.cable, budget.drift):
        c = [LN10_20 * p.magnitude * rng.standard_normal((rng.trials, 1)) + 1j * p.phase * rng.standard_normal(
            (rng.trials, 1)) for p in ports]
        g = [1 + c[0], 1 + c[1]]
        if cal.ports == 1:                       # port 1's cable only
            raw = d1 + (raw - d1) * g[0] ** 2
            continue
        out = raw.copy()
        out[:, :, 0, 0] = d1 + (raw[:, :, 0, 0] - d1) * g[0] ** 2
        out[:, :, 1, 1] = d2 + (raw[:, :, 1, 1] - d2) * g[1] ** 2
        out[:, :, 0, 1] = raw[:, :, 0, 1] * g[0] * g[1]
        out[:, :, 1, 0] = raw[:, :, 1, 0] * g[0] * g[1]
        raw = out
    return raw


def _connected(cal, S, budget: Budget, rng) -> np.ndarray:
    """Corrected results with the device's connection repeatability drawn."""
    u1, u2 = budget.connector
    n = len(cal.f)
    if cal.ports == 1:
        return S + _circular(rng, (n,), u1)
    S = S.copy()
    S[:, :, 0, 0] += _circular(rng, (n,), u1)
    S[:, :, 1, 1] += _circular(rng, (n,), u2)
    return S


def _solt_trials(cal, Sm, budget: Budget, rng, uncertain) -> np.ndarray:
    from .. import hidden
    from ..calibration.base import unterminate

    t, n = rng.trials, len(cal.f)
    f = cal.f
    v = uncertain._solt_values(cal)
    actual = {k: np.broadcast_to(v[k], (t,) + v[k].shape).copy() for k in ("G1", "G2", "T") if k in v}
    u1, u2 = budget.connector
    for name, u in (("G1", u1), ("G2", u2)):
        if name in actual:
            actual[name] += _circular(rng, v[name].shape, u)
    if "T" in actual:
        actual["T"][:, :, 0] += _circular(rng, (n,), u1)
        actual["T"][:, :, 3] += _circular(rng, (n,), u2)
    for name, value in _kit_trials(cal, budget, rng).items():
        if name in actual:
            actual[name] = actual[name] + value
    measured = {k: _noisy(rng, v[k], f, budget) for k in ("Gm1", "Gm2", "Tm", "Im") if k in v}

    def tile(x, shape):
        return x.reshape((t * n,) + shape)

    m = cal.method
    if m == "one-port":
        e = hidden.get1PortModel(tile(actual["G1"], (3,)), tile(measured["Gm1"], (3,)))
        raw = _device(cal, Sm, budget, rng)
        S = hidden.correct1Port(tile(raw, ()), e).reshape(t, n)
        return _connected(cal, S, budget, rng)
    T = tile(actual["T"], (4,)).reshape(t * n, 2, 2) if "T" in actual else None
    Tm = tile(measured["Tm"], (4,)).reshape(t * n, 2, 2)
    raw = _device(cal, Sm, budget, rng).reshape(t * n, 2, 2)
    if m == "response":
        H = hidden.get2PortResponseModel(tile(actual["G1"], (1,))[:, 0], tile(measured["Gm1"], (1,))[:, 0],
                                         tile(actual["G2"], (1,))[:, 0], tile(measured["Gm2"], (1,))[:, 0], T, Tm)
        S = hidden.correctResponse(raw, H)
    else:
        G1, G2 = tile(actual["G1"], (3,)), tile(actual["G2"], (3,))
        Gm1, Gm2 = tile(measured["Gm1"], (3,)), tile(measured["Gm2"], (3,))
        if m == "twelve-term":
            Im = None
            if "Im" in measured:
                Im = np.zeros((t * n, 2, 2), complex)
                Im[:, 1, 0], Im[:, 0, 1] = tile(measured["Im"], (2,))[:, 0], tile(measured["Im"], (2,))[:, 1]
            S = hidden.correct12Term(raw, *hidden.get12TermModel(G1, Gm1, G2, Gm2, T, Tm, Im))
        else:
            if m == "unknown-thru":
                A, B, _ = hidden.get8TermModelUThru(G1, Gm1, G2, Gm2, Tm, np.tile(f, t))
                from ..calibration.thru_root import thru_transmission

                q0, _ = thru_transmission(A, B, Tm)
                nominal0, _ = thru_transmission(cal.terms["A"], cal.terms["B"], cal.standards["Tm"])
                sign = np.tile(np.where((cal.terms["q"] / nominal0).real >= 0, 1.0, -1.0), t)
                # the same root as the calibration's, followed from its own
                q = sign * q0 * np.where((q0 * np.conj(np.tile(nominal0, t))).real >= 0, 1.0, -1.0)
            else:
                A, B, q = hidden.get8TermModel(G1, Gm1, G2, Gm2, T, Tm)
            if "switch_f" in cal.terms:
                raw = unterminate(raw, np.tile(cal.terms["switch_f"], t), np.tile(cal.terms["switch_r"], t))
            S = hidden.correct8Term(raw, A, B, q)
    S = _port_extension(cal, S, t)
    return _connected(cal, S.reshape(t, n, 2, 2), budget, rng)


def _kit_trials(cal, budget: Budget, rng) -> dict:
    """How the standards' actual values move [trials, n, ...] with the kit's
    coefficients drawn and its model evaluated again (G1, G2 alike: one kit
    serves both ports), and its data standards' values drawn."""
    from .._common.convention import in_convention
    from ..calibration.kit import CalKit

    if not cal.kit:
        return {}
    z0, models = CalKit.models_of(cal.kit)
    if not (budget.kit or budget.data or any(m is not None and m.uncertainty for m in models.values())):
        return {}
    f, n, t = cal.f, len(cal.f), rng.trials

    def evaluate(standards):
        G = np.stack([standards[k].gamma(f, z0) if standards[k] else np.zeros(n) for k in ("open", "short", "load")],
                     axis=1)
        return G, standards["thru"].s(f, z0) if standards["thru"] else np.zeros((n, 2, 2))

    nominal = evaluate(models)
    dG, dT = np.zeros((t, n, 3), complex), np.zeros((t, n, 2, 2), complex)
    for trial in range(t):
        standards = drawn_standards(models, budget, rng.generator)
        for k, name in enumerate(("open", "short", "load")):
            if models[name] is None and budget.data:      # a data standard's values, drawn
                dG[trial, :, k] += budget.data / np.sqrt(2) * (rng.standard_normal() + 1j * rng.standard_normal())
        G, T = evaluate(standards)
        dG[trial] += G - nominal[0]
        dT[trial] += T - nominal[1]
    dG, dT = in_convention(dG, cal.convention), in_convention(dT, cal.convention)
    out = {"G1": dG, "G2": dG, "T": dT.reshape(t, n, 4)}
    if cal.method == "response":
        out.update(G1=dG[..., 1:2], G2=dG[..., 1:2])
    return out


def drawn_standards(models: dict, budget: Budget, rng) -> dict:
    """The kit's standards {name: model, None for data standards} with
    every coefficient that has an uncertainty (the kit file's own, the
    budget's in their place) drawn once from `rng` (a numpy Generator):
    standards as one real kit might be."""
    import dataclasses

    out = dict(models)
    for name in ("open", "short", "load", "thru"):
        std = out.get(name)
        if std is None:
            continue
        given = {**std.uncertainty, **budget.kit.get(name, {})}
        changes, offset = {}, {}
        for field, u in given.items():
            if field in ("delay", "loss", "z0"):
                offset[field] = getattr(std.offset, field) + u * rng.standard_normal()
            elif isinstance(u, list):
                values = list(getattr(std, field))
                for i, ui in enumerate(u):
                    values[i] += ui * rng.standard_normal()
                changes[field] = tuple(values)
            else:
                changes[field] = getattr(std, field) + u * rng.standard_normal()
        if offset:
            changes["offset"] = dataclasses.replace(std.offset, **offset)
        if changes:
            out[name] = dataclasses.replace(std, **changes)
    return out


def _port_extension(cal, S, t):
    if cal.port_extension is None:
        return S
    from .. import hidden

    port, e10e01 = cal.port_extension
    return hidden.correctPortExt(S, np.tile(np.asarray(e10e01, complex), t), port)


def _trl_trials(cal, Sm, budget: Budget, rng) -> np.ndarray:
    from .. import _native, hidden
    from .._common.convention import in_convention
    from ..calibration.base import unterminate

    p = cal.parameters
    f, n = cal.f, len(cal.f)
    names = ["thru", "reflect"] + [f"line{i + 1}" for i in range(len(p["line_lengths"]))]
    raw = [np.asarray(cal.standards[k], complex) for k in names]
    switch = (cal.terms["switch_f"], cal.terms["switch_r"]) if "switch_f" in cal.terms else None
    er = p["er_est"] if not isinstance(p["er_est"], list) else complex(*p["er_est"])
    sign = 1.0 if p["reflect_like"] == "open" else -1.0
    tb = budget.trl
    nominal_reflect = in_convention(cal.terms["reflect"], cal.convention)
    out = []
    device = _device(cal, Sm, budget, rng)
    A_nom, B_nom, q_nom = (in_convention(cal.terms[k], cal.convention) for k in "ABq")
    for trial in range(rng.trials):
        readings = []
        for name, x in zip(names, raw):
            noisy = _noisy(_Single(rng), x, f, budget)[0]
            if name == "reflect":                         # its transmission is not read
                noisy[:, 0, 1], noisy[:, 1, 0] = x[:, 0, 1], x[:, 1, 0]
            readings.append(unterminate(noisy, *switch) if switch else noisy)
        eng = [in_convention(x, cal.convention) for x in readings]
        lengths = np.array(p["line_lengths"], float)
        thru_length = p["thru_length"]
        if tb.line_length:
            lengths = lengths + tb.line_length * rng.standard_normal(len(lengths))
            thru_length = thru_length + tb.line_length * rng.standard_normal()
        if tb.eps_eff:
            # each standard's effective permittivity off by a relative delta: as a length off by l delta / 2
            lengths = lengths + np.abs(p["line_lengths"]) * tb.eps_eff / 2 * rng.standard_normal(len(lengths))
            thru_length = thru_length + abs(p["thru_length"]) * tb.eps_eff / 2 * rng.standard_normal()
        if tb.impedance or tb.reflect_asymmetry:
            eng = _perturbed_standards(eng, A_nom, B_nom, q_nom, cal, tb, rng)
        res = _native.multiline_trl(f, eng[0], eng[1], np.stack(eng[2:]), lengths, thru_length=thru_length,
                                    er_est=er, reflect_estimate=sign, reflect_offset=p["reflect_offset"],
                                    ref_plane=p["ref_plane"])
        flip = (res["reflect"] * np.conj(nominal_reflect)).real < 0
        A, B = res["A"].copy(), res["B"].copy()
        A[flip, :, 0] *= -1
        B[flip, 0, :] *= -1
        dut = device[trial]
        dut = unterminate(dut, *switch) if switch else dut
        S = hidden.correct8Term(in_convention(dut, cal.convention), A, B, res["q"])
        out.append(in_convention(S, cal.convention))
    S = np.stack(out)
    S = _port_extension(cal, S.reshape(-1, 2, 2), rng.trials).reshape(rng.trials, n, 2, 2)
    return _connected(cal, S, budget, rng)


class _Single:
    """One trial's draws from a many-trial source."""

    def __init__(self, source):
        self.source, self.trials = source, 1

    def standard_normal(self, shape=None):
        return self.source.standard_normal(shape)


def _perturbed_standards(eng, A, B, q, cal, tb, rng):
    """The lines' readings with their impedance off, and the reflect's port-2
    reading with its asymmetry, re-embedded through the solved error boxes."""
    from .._common.convention import in_convention

    p = cal.parameters
    g = np.asarray(cal.terms["gamma"], complex)           # the propagation constant, e^{jwt} in every calibration
    n = len(cal.f)
    out = list(eng)

    def embed(Tact):
        M = (A @ Tact @ B) / q[:, None, None]
        S = np.empty_like(M)
        S[:, 0, 0], S[:, 0, 1] = M[:, 0, 1] / M[:, 1, 1], (M[:, 0, 0] * M[:, 1, 1] - M[:, 0, 1] * M[:, 1, 0]) / M[:, 1, 1]
        S[:, 1, 0], S[:, 1, 1] = 1 / M[:, 1, 1], -M[:, 1, 0] / M[:, 1, 1]
        return S

    def s2t(S):
        T = np.empty_like(S)
        det = S[:, 0, 0] * S[:, 1, 1] - S[:, 0, 1] * S[:, 1, 0]
        T[:, 0, 0], T[:, 0, 1] = -det / S[:, 1, 0], S[:, 0, 0] / S[:, 1, 0]
        T[:, 1, 0], T[:, 1, 1] = -S[:, 1, 1] / S[:, 1, 0], 1 / S[:, 1, 0]
        return T

    if tb.impedance:
        for i, length in enumerate(p["line_lengths"]):
            D = length - p["thru_length"] - 2 * p["ref_plane"]
            e = np.exp(-g * D)
            nominal = np.zeros((n, 2, 2), complex)
            nominal[:, 0, 1] = nominal[:, 1, 0] = e
            r = tb.impedance * rng.standard_normal() / 2       # the line's reflection against the reference
            line = nominal.copy()
            d = 1 - r ** 2 * e ** 2
            line[:, 0, 0] = line[:, 1, 1] = r * (1 - e ** 2) / d
            line[:, 0, 1] = line[:, 1, 0] = e * (1 - r ** 2) / d
            out[2 + i] = eng[2 + i] + embed(s2t(line)) - embed(s2t(nominal))
    if tb.reflect_asymmetry:
        delta = tb.reflect_asymmetry / np.sqrt(2) * (rng.standard_normal() + 1j * rng.standard_normal())
        gamma = in_convention(cal.terms["reflect"], cal.convention)
        # port 2's box alone: the reflect's S22 reading moves as its value does
        b = B
        e22, e33 = b[:, 0, 1], -b[:, 1, 0]
        e23e32 = b[:, 0, 0] + e22 * e33
        def read(G):
            return e33 + e23e32 * G / (1 - e22 * G)
        shifted = out[1].copy()
        shifted[:, 1, 1] = eng[1][:, 1, 1] + read(gamma * (1 + delta)) - read(gamma)
        out[1] = shifted
    return out
