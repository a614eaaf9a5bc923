"""A virtual QLM-417 board.

`Board` and `Settings` offer the driver interface the measurement functions
use (``ApplySettings``, ``Record``, ``GetRecordingResult``, ``txtr``,
``freqRange.numFreqPoints``). Behind it sits a model of a two-port,
four-receiver analyser:

- an error box per port (directivity, source match, reflection tracking) and
  transmission tracking through them;
- switch terms: the non-driven port's termination reflects part of what
  reaches it back into the device;
- crosstalk from the driven port's source into the other port's b receiver;
- receiver noise, seeded, so that runs repeat;
- with an uncertainty budget, the world the budget describes: a kit whose
  standards differ from their model as its coefficients' uncertainties say
  (drawn once per board), trace noise and linearity on every reading, a
  connector repeatability drawn at every connection, and cables (and drift)
  drawn each time the device is connected; `standards` and `device` stay
  the truth, so that a calibration's uncertainty can be checked against it;
- a frequency plan (start, stop, number of points).

Phases follow the board's convention: a delay of tau seconds has the phase
+2*pi*f*tau (it grows with frequency). Everything connected is modelled in
that one convention: devices and standards given in the e^{jwt} convention of
Touchstone files (the built-in device, a device file, listed standards) are
converted where they enter, and `write_standards` writes e^{jwt} files.

What is connected comes from the operator prompts (`follow`) or from
`connect`: Open, Short and Load at a port, the thru, the isolation loads on
both ports, or the device (built in, or any Touchstone file).

Recordings are keyed by the board ports 1 to 6 of the port map: the two
transmitter channels and the four receivers. The transmitting port's own
channel carries the synthesiser's settling ramp, which starts at exactly 0;
every other channel reads something (leakage, crosstalk, noise) and never
starts at 0.
"""
import contextlib
import io
import os
import re
import sys
from typing import Any

import numpy as np

from .._common.cascade import cascade
from .._common.convention import in_convention
from .devices import builtin_device, device_from_file, standards
from .fixture import NAMES as FIXTURE_NAMES
from .medium import PlanarMedium
from .plan import PORTS, Settings

Z0 = 50.0

_PROMPT = re.compile(r">> Measure (.*?)(?: @ Port-(\d+))?: $")


def _delay(f, tau):
    return np.exp(2j * np.pi * f * tau)


class Board:
    """The board object. Keyword arguments set up the analyser model.

    noise: receiver noise on (seeded) or off.
    noise_db: receiver noise level relative to the source, in dB.
    crosstalk_db: leakage from the source into the other port's b receiver.
    ideal_standards: the kit's Open/Short/Load/thru are ideal, or follow the
        calibration kit's model (`kit`, the shipped example kit by default);
        `write_standards` saves their values.
    device: None for the built-in device, or a two-port Touchstone file.
    medium: a PlanarMedium whose thru, reflect and lines the TRL prompts
        ("THRU", "REFLECT", "LINE 1", ...) connect, or None.
    wafer: an ImpedanceStandardSubstrate: on-wafer work, through its probes
        (error boxes of their own), its thru, open, short and load taking the
        place of the kit's; or None.
    budget: an `orvane_ex.uncertainty.Budget` (or a TOML file) the board
        follows (see the module), or None.
    fixture: a PCBFixture whose 2x-thru and fixture around the device the
        prompts "2X-THRU" and "FIXTURE-DUT" connect, or None.
    """

    def __init__(self, settings: Settings | None = None, *, seed: int = 417, noise: bool = True,
                 noise_db: float = -90.0, crosstalk_db: float = -110.0, ideal_standards: bool = True,
                 device: str | os.PathLike[str] | None = None, ports: dict[str, int] | None = None,
                 kit: Any = None, medium: PlanarMedium | None = None, wafer: Any = None, fixture: Any = None,
                 budget: Any = None) -> None:
        self.ports = dict(ports or PORTS)
        self.rng = np.random.default_rng(seed)
        self.seed = seed
        self.noise = noise
        self.noise_db = noise_db
        self.crosstalk_db = crosstalk_db
        self.ideal_standards = ideal_standards
        self.device_file = device
        self.kit = kit
        self.medium = medium
        self.wafer = wafer
        if budget is not None and not hasattr(budget, "noise"):
            from ..uncertainty import Budget

            budget = Budget.load(budget)
        self.budget = budget
        self._world = np.random.default_rng([seed, 22])    # the budget's draws, apart from the receivers' noise
        self._repeat = {1: 0j, 2: 0j}
        self._flex = {1: 0j, 2: 0j}
        self.fixture = fixture
        # what each port sees by name; a two-port standard or the device shows on both
        self.connected: dict[int, str] = {1: "OPEN", 2: "OPEN"}
        self._settings = None
        self._result = None
        self.ApplySettings(settings or Settings())

    # -- the driver interface ------------------------------------------------

    def ApplySettings(self, settings):
        tx = settings.txtr
        if tx not in (self.ports["Tx1"], self.ports["Tx2"]):
            raise ValueError(f"txtr must be a transmitter port ({self.ports['Tx1']} or {self.ports['Tx2']}), not {tx!r}")
        plan = settings.freqRange
        if self._settings is None or (plan.start, plan.stop, plan.numFreqPoints) != self._plan:
            self._plan = (plan.start, plan.stop, plan.numFreqPoints)
            self._build(np.linspace(plan.start, plan.stop, plan.numFreqPoints))
        self._settings = settings
        self._tx = tx

    def Record(self):
        driving = 1 if self._tx == self.ports["Tx1"] else 2
        self._result = self._record(driving)

    def GetRecordingResult(self):
        return self._result

    # -- what is connected ---------------------------------------------------

    def connect(self, name, port=None):
        """Connects a standard at a front-panel port (1 or 2), the thru
        ("THRU"), loads on both ports ("ISOLATION"), with a planar medium its
        reflect ("REFLECT") or line n ("LINE n"), or the device (any other
        name)."""
        name = name.upper()
        line = re.fullmatch(r"LINE (\d+)", name)
        if self.fixture is not None and name in FIXTURE_NAMES:
            pass
        elif self.medium is not None and (line or name == "REFLECT"):
            if line and not 1 <= int(line.group(1)) <= len(self.medium.line_lengths):
                raise ValueError(f"{name}: the medium has lines 1 to {len(self.medium.line_lengths)}")
        elif name == "ISOLATION":
            name = "LOAD"
        elif name not in ("OPEN", "SHORT", "LOAD", "THRU"):
            name = "DEVICE"
        one_port = name in ("OPEN", "SHORT", "LOAD") and port in (1, 2)
        self.connected = {**self.connected, port: name} if one_port else {1: name, 2: name}
        self._connection(port)

    def _connection(self, port) -> None:
        """A new connection: its repeatability drawn at the ports it is
        made at; the device's also moves the cables (and drift)."""
        b = self.budget
        if b is None:
            return
        for p in (port,) if port in (1, 2) else (1, 2):
            u = b.connector[p - 1]
            self._repeat[p] = u / np.sqrt(2) * complex(self._world.standard_normal(), self._world.standard_normal())
        if self.connected[1] == "DEVICE":
            for p in (1, 2):
                c = 0j
                for stability in (b.cable[p - 1], b.drift[p - 1]):
                    c += complex(np.log(10) / 20 * stability.magnitude * self._world.standard_normal(),
                                 stability.phase * self._world.standard_normal())
                self._flex[p] = c
        else:
            self._flex = {1: 0j, 2: 0j}

    def hear(self, prompt):
        """Connects what an operator prompt asks for."""
        m = _PROMPT.match(str(prompt))
        if m:
            self.connect(m.group(1), int(m.group(2)) if m.group(2) else None)

    @contextlib.contextmanager
    def follow(self, module):
        """While active, every prompt the module shows connects what it names,
        however it is answered."""
        original = module.userMsg
        board = self

        def userMsg(msg):
            board.hear(msg)
            return original(msg)

        userMsg.__doc__ = original.__doc__
        module.userMsg = userMsg
        try:
            yield self
        finally:
            module.userMsg = original

    @contextlib.contextmanager
    def unattended(self, module, *, quiet: bool = True):
        """`follow`, with every prompt answered by pressing Enter: scripts and
        tests run the module's interactive sequences without an operator.
        `quiet` keeps the prompts off standard output; otherwise each shows
        with the Enter pressed after it."""
        stdin = sys.stdin
        sys.stdin = _Enter(echo=not quiet)
        try:
            with contextlib.ExitStack() as stack:
                if quiet:
                    stack.enter_context(contextlib.redirect_stdout(io.StringIO()))
                yield stack.enter_context(self.follow(module))
        finally:
            sys.stdin = stdin

    # -- what the board knows ------------------------------------------------

    @property
    def f(self):
        return self._f

    @property
    def device(self):
        """The device's true S-parameters on the frequency plan, in the board's
        convention (as the board's corrected measurements give them)."""
        return self._device

    @property
    def standards(self):
        """Actual values of the kit on the frequency plan."""
        return self._standards

    def write_standards(self, folder):
        """Saves the kit's listed values as open.s1p, short.s1p, load.s1p and
        thru.s2p in `folder`, in the e^{jwt} convention of Touchstone files
        (what other tools and a kit's `file =` read); returns their paths by
        standard name."""
        import skrf

        freq = skrf.Frequency.from_f(self._f, unit="Hz")
        paths = {}
        for name, s in self._standards.items():
            net = skrf.Network(frequency=freq, s=in_convention(s, "board"), z0=Z0)
            net.write_touchstone(filename=name.lower(), dir=folder)
            paths[name] = os.path.join(folder, name.lower() + (".s2p" if s.ndim == 3 else ".s1p"))
        return paths

    # -- the analyser model --------------------------------------------------

    def _build(self, f):
        r = np.random.default_rng(self.seed)
        n = len(f)
        self._f = f

        def term(mag, tau):
            return mag * np.exp(1j * r.uniform(-np.pi, np.pi)) * _delay(f, tau) * (1 + 0.05 * np.cos(f / 7e8))

        # error boxes, port 1 at the analyser and port 2 at the device (port-2
        # box the other way round)
        def box():
            E = np.empty((n, 2, 2), complex)
            E[:, 0, 0] = term(0.04, r.uniform(0.2e-9, 0.8e-9))      # directivity
            E[:, 1, 1] = term(0.06, r.uniform(0.2e-9, 0.8e-9))      # source match
            E[:, 1, 0] = term(0.90, r.uniform(0.5e-9, 1.5e-9))      # towards the device
            E[:, 0, 1] = term(0.85, r.uniform(0.5e-9, 1.5e-9))      # back to the receiver
            return E

        self._EA = box()
        self._EB = box()[:, ::-1, ::-1].copy()
        self._switch = {1: term(0.12, 0.3e-9), 2: term(0.10, 0.35e-9)}
        leak = 10 ** (self.crosstalk_db / 20)
        self._crosstalk = {1: term(leak, 0.1e-9), 2: term(leak, 0.12e-9)}
        self._source = (1 + 0.1 * np.sin(f / 3e8)) * np.exp(1j * r.uniform(-np.pi, np.pi, n))
        self._standards = standards(f, self.ideal_standards, self._true_kit())
        if self.wafer is not None:            # probes between the ports and the substrate's standards
            probe1, probe2 = self.wafer.probes(f)
            self._EA, self._EB = cascade(self._EA, probe1), cascade(probe2, self._EB)
            self._standards = self.wafer.standards(f)
        device = builtin_device(f) if self.device_file is None else device_from_file(self.device_file, f)
        self._device = in_convention(device, "board")

    def _true_kit(self):
        """The kit as it really is: its model, or with a budget its
        coefficients drawn once from their uncertainties."""
        if self.budget is None or self.ideal_standards:
            return self.kit
        import dataclasses

        from ..calibration.kit import example_kit
        from ..uncertainty.montecarlo import drawn_standards

        kit = self.kit or example_kit()
        drawn = drawn_standards(dict(kit.standards), self.budget, np.random.default_rng([self.seed, 23]))
        return dataclasses.replace(kit, standards=drawn)

    def _network(self):
        """The two-port at the device planes, as this connection presents it."""
        S = self._presented()
        if self.budget is not None:
            S = S.copy()
            S[:, 0, 0] += self._repeat[1]
            S[:, 1, 1] += self._repeat[2]
        return S

    def _presented(self):
        f = self._f
        name = self.connected[1] if self.connected[1] == self.connected[2] else None
        line = re.fullmatch(r"LINE (\d+)", name or "")
        if line:                                 # only a medium connects these
            return self.medium.line(f, self.medium.line_lengths[int(line.group(1)) - 1])
        if name == "THRU":
            return self._standards["THRU"] if self.medium is None else self.medium.line(f, self.medium.thru_length)
        if name == "DEVICE":
            return self._device
        if name in FIXTURE_NAMES:
            return in_convention(self.fixture.network(name, f, in_convention(self._device, "board")), "board")
        S = np.zeros((len(f), 2, 2), complex)
        if name == "REFLECT":  # the medium's, on both ports
            S[:, 0, 0] = S[:, 1, 1] = self.medium.reflect(f)
        else:
            S[:, 0, 0] = self._standards[self.connected[1]]
            S[:, 1, 1] = self._standards[self.connected[2]]
        return S

    def _record(self, driving):
        # what an ideal, switchless analyser would see between its receivers
        EA, EB = self._EA, self._EB
        if self._flex[1] or self._flex[2]:      # the cables as they lie now: each way through them changes
            EA, EB = EA.copy(), EB.copy()
            EA[:, 1, 0] *= 1 + self._flex[1]
            EA[:, 0, 1] *= 1 + self._flex[1]
            EB[:, 1, 0] *= 1 + self._flex[2]
            EB[:, 0, 1] *= 1 + self._flex[2]
        Sm = cascade(EA, self._network(), EB)
        other = 2 if driving == 1 else 1
        d, o = driving - 1, other - 1
        a_d = self._source
        # the non-driven port's termination sends part of b back in
        b_o = Sm[:, o, d] * a_d / (1 - Sm[:, o, o] * self._switch[other])
        a_o = self._switch[other] * b_o
        b_d = Sm[:, d, d] * a_d + Sm[:, d, o] * a_o
        # the source leaks into both receivers of the other port
        b_o = b_o + self._crosstalk[driving] * a_d
        a_o = a_o + 0.5 * self._crosstalk[driving] * a_d
        waves = {f"Rx{driving}A": a_d, f"Rx{driving}B": b_d, f"Rx{other}A": a_o, f"Rx{other}B": b_o}
        n = len(self._f)
        if self.budget is not None:
            waves = self._trace_noise(waves, driving, other)
        if self.noise:
            sigma = 10 ** (self.noise_db / 20) / np.sqrt(2)
            waves = {k: v + sigma * (self.rng.standard_normal(n) + 1j * self.rng.standard_normal(n))
                     for k, v in waves.items()}
        ramp = self._source * (1 - np.exp(-np.arange(n) / 3.0))
        ramp[0] = 0
        channels = {f"Tx{driving}": ramp, f"Tx{other}": 1e-6 * self._source}
        channels.update(waves)
        rec = {}
        for number in range(1, 7):
            key = next((k for k, v in self.ports.items() if v == number), None)
            rec[number] = np.array(channels[key]) if key in channels else 1e-9 * self._source
        return rec

    def _trace_noise(self, waves, driving, other):
        """The budget's trace noise and linearity on both b receivers, as
        each reading b/a sees them: the floor relative to the source, the
        magnitude and phase noise (and the linearity's magnitude error)
        in proportion."""
        b, f, n = self.budget, self._f, len(self._f)
        r = self._world
        a = waves[f"Rx{driving}A"]
        out = dict(waves)
        for key in (f"Rx{driving}B", f"Rx{other}B"):
            x = waves[key]
            ratio = np.abs(x / a)
            db = b.noise.magnitude.at(f) * r.standard_normal(n)
            if b.linearity:
                level = 20 * np.log10(np.maximum(ratio, 1e-300))
                db = db + b.linearity * np.abs(level) * r.standard_normal(n)
            phase = b.noise.phase.at(f) * r.standard_normal(n)
            floor = b.noise.floor.at(f) / np.sqrt(2) * (r.standard_normal(n) + 1j * r.standard_normal(n))
            out[key] = x * np.exp(np.log(10) / 20 * db + 1j * phase) + floor * a
        return out


class _Enter(io.TextIOBase):
    """Standard input that presses Enter at every prompt (shown when `echo`)."""

    def __init__(self, echo: bool) -> None:
        super().__init__()
        self._echo = echo

    def readable(self) -> bool:
        return True

    def readline(self, size: int | None = -1) -> str:
        if self._echo:
            sys.stdout.write("\n")
        return "\n"
