"""A device measured behind mismatched launch fixtures on the virtual board,
calibrated, and gated: within -40 dB of the device alone in the gated band,
in band-pass and low-pass mode, from the arrays and through orvane-cal gate."""
import numpy as np
import pytest

from orvane_ex import cli, timedomain
from orvane_ex.calibration.kit import example_kit
from orvane_ex.calibration.solt import TwelveTermCal
from orvane_ex.files import touchstone
from orvane_ex._common.constants import SPEED_OF_LIGHT
from orvane_ex.virtual_board import PORTS, Board, PCBFixture, Settings, builtin_device

CENTER, SPAN = 6e-9, 9e-9       # the device's passage through two 3 ns fixtures: 1.5 to 10.5 ns


def measure(hidden, board, settings, what, port=None):
    board.connect(what, port)
    if port is None:
        return hidden.ab2S_SwitchCorrect(*hidden.measure2Port(board, settings, PORTS), PORTS)
    return hidden.ab2G(hidden.measure1Port(board, settings, PORTS[f"Tx{port}"]), PORTS)


# on each side a launch whose pad's capacitance reflects, then 3 ns of matched, nearly lossless trace
FIXTURE = PCBFixture(side1=((50.0, 3e-9 * SPEED_OF_LIGHT / np.sqrt(3.4)),),
                     side2=((50.0, 3e-9 * SPEED_OF_LIGHT / np.sqrt(3.4)),),
                     launch1=(0.0, 0.5e-12), launch2=(0.0, 0.5e-12), eps_eff=3.4, loss_db_per_m_ghz=0.2)


def behind_fixtures(hidden, tmp_path, start, points):
    """(f, the device's true S, the fixtures' passage, the corrected
    measurement behind the fixtures), all e^{jwt}, from a board with noise
    and crosstalk."""
    settings = Settings(start, 6e9, points)
    f = settings.freqRange.f
    # the board's built-in resonator, kept at 2.45 GHz on either plan (its ringing fits the gate)
    device = builtin_device(f, f0=np.sqrt(1e9 * 6e9))
    assert np.max(np.abs(FIXTURE.half(f, 1)[:, 0, 0])) > 10 ** (-8 / 20)      # a launch that reflects
    path = tmp_path / "device.s2p"
    touchstone.write(path, f, device)
    board = Board(settings, seed=5, ideal_standards=False, device=path, fixture=FIXTURE)
    measured = {f"{name.lower()}{port}": measure(hidden, board, settings, name, port)
                for port in (1, 2) for name in ("OPEN", "SHORT", "LOAD")}
    measured.update(thru=measure(hidden, board, settings, "THRU"), isolation=measure(hidden, board, settings,
                                                                                    "ISOLATION"))
    cal = TwelveTermCal.from_standards(f, measured, kit=example_kit(), convention="board")
    corrected = np.conj(cal.apply(measure(hidden, board, settings, "FIXTURE-DUT")))
    # the traces' passage: in and out for a transmission, there and back for a reflection
    t1, t2 = FIXTURE.half(f, 1)[:, 1, 0], FIXTURE.half(f, 2)[:, 1, 0]
    through = np.stack([np.stack([t1 * t1, t1 * t2], -1), np.stack([t1 * t2, t2 * t2], -1)], -2)
    return f, device, through, corrected


def error_db(gated, device, through):
    """|gated - device| in dB per S-parameter, the traces' passage divided out."""
    return 20 * np.log10(np.abs(gated / through - device))


@pytest.mark.parametrize("mode", ["bandpass", "lowpass"])
def test_gated_device_behind_fixtures_on_the_board_is_within_40_dB_of_the_device(hidden, tmp_path, mode):
    # low-pass mode on the harmonic grid analysers sweep for it (25 MHz steps from 25 MHz)
    f, device, through, corrected = behind_fixtures(hidden, tmp_path, *((1e9, 201) if mode == "bandpass"
                                                                         else (25e6, 240)))
    if mode == "lowpass":
        f_dc, s_dc = timedomain.extrapolate_to_dc(f, corrected)
        gated = timedomain.gate(f_dc, s_dc, center=CENTER, span=SPAN, mode=mode)[1:]
    else:
        gated = timedomain.gate(f, corrected, center=CENTER, span=SPAN)
    edge = int(np.ceil(2 / SPAN / (f[1] - f[0])))            # the band less 2 / span at each end
    for i, j in ((0, 0), (1, 0), (0, 1), (1, 1)):
        raw = error_db(corrected, device, through)[:, i, j]
        err = error_db(gated, device, through)[:, i, j]
        assert np.max(raw) > -15                              # the fixtures' echoes, ungated
        assert np.max(err[edge:-edge]) < -40, (mode, i, j, np.max(err[edge:-edge]))


def test_orvane_cal_gate_gives_the_same_within_40_dB(hidden, tmp_path):
    f, device, through, corrected = behind_fixtures(hidden, tmp_path, 1e9, 201)
    source, target = tmp_path / "dut.s2p", tmp_path / "gated.s2p"
    touchstone.write(source, f, corrected)
    assert cli.main(["gate", str(source), "--center", "6ns", "--span", "9 ns", "-o", str(target),
                     "--figure", str(tmp_path / "gate.svg")]) == 0
    fg, gated, _ = touchstone.read(target)
    np.testing.assert_array_equal(fg, f)
    np.testing.assert_allclose(gated, timedomain.gate(f, corrected, center=CENTER, span=SPAN), atol=1e-12)
    edge = int(np.ceil(2 / SPAN / (f[1] - f[0])))
    assert np.max(error_db(gated, device, through)[edge:-edge]) < -40
    assert (tmp_path / "gate.svg").read_bytes().lstrip().startswith(b"<?xml")
