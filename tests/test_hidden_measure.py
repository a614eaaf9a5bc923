"""The measurement workflow against a recording fake driver, with standard
input fed by the test."""
import io
import sys

import numpy as np
import pytest
from orvane_ex.virtual_board import PORTS



class Settings:
    def __init__(self, log, n=4):
        object.__setattr__(self, "log", log)
        object.__setattr__(self, "freqRange", type("Plan", (), {"numFreqPoints": n})())

    def __setattr__(self, name, value):
        self.log.append((name, value))
        object.__setattr__(self, name, value)


class Driver:
    """Logs every access; each recording reports its transmitter's channel
    starting with 0, as the board does."""

    def __init__(self, n=4, ports=PORTS):
        self.log, self.n, self.ports, self.given = [], n, ports, []
        self.settings = Settings(self.log, n)

    def ApplySettings(self, settings):
        assert settings is self.settings
        self.log.append("ApplySettings")

    def Record(self):
        self.log.append("Record")

    def GetRecordingResult(self):
        self.log.append("GetRecordingResult")
        tx = self.settings.txtr
        rec = {k: np.full(self.n, 0.5 + 0.1 * k + 1j) for k in range(1, 7)}
        rec[tx] = np.zeros(self.n, complex)
        self.given.append(rec)
        return rec


def feed(monkeypatch, text):
    monkeypatch.setattr(sys, "stdin", io.StringIO(text))


def test_measure2Port_driver_sequence(hidden):
    d = Driver()
    rec1, rec2 = hidden.measure2Port(d, d.settings, PORTS)
    assert d.log == [("txtr", 1), "ApplySettings", "Record", "GetRecordingResult",
                     ("txtr", 2), "ApplySettings", "Record", "GetRecordingResult"]
    assert rec1 is d.given[0] and rec2 is d.given[1]
    assert d.settings.txtr == 2


def test_measure1Port_leaves_the_transmitter(hidden):
    d = Driver()
    rec = hidden.measure1Port(d, d.settings, PORTS["Tx2"])
    assert rec is d.given[0] and d.settings.txtr == 2
    assert d.log == [("txtr", 2), "ApplySettings", "Record", "GetRecordingResult"]


def test_missing_transmitter_keys(hidden):
    d = Driver()
    with pytest.raises(KeyError):
        hidden.measure2Port(d, d.settings, {k: v for k, v in PORTS.items() if k != "Tx2"})
    assert len(d.log) == 4                       # the first recording was taken, then lost
    d = Driver()
    with pytest.raises(KeyError):
        hidden.measure2Port(d, d.settings, {k: v for k, v in PORTS.items() if k != "Tx1"})
    assert d.log == []


SOLT_TEXT = ("".join(f">> Measure {s} @ Port-1: Recording...Done.\n\n" for s in ("OPEN", "SHORT", "LOAD"))
             + "-- Switch to Port-2 --\n\n"
             + "".join(f">> Measure {s} @ Port-2: Recording...Done.\n\n" for s in ("OPEN", "SHORT", "LOAD"))
             + ">> Measure THRU: Recording...Done.\n\n")


@pytest.mark.parametrize("isolation", [False, True])
def test_whole_sequence_prompts(hidden, monkeypatch, capsys, isolation):
    d = Driver()
    feed(monkeypatch, "\n" * 8)
    out = hidden.prompt2PortSOLT(d, d.settings, PORTS, isolation)
    text = capsys.readouterr().out
    assert text == SOLT_TEXT + (">> Measure ISOLATION: Recording...Done.\n\n" if isolation else "")
    assert len(out) == (4 if isolation else 3)
    Gm1, Gm2, Tm = out[:3]
    assert Gm1.shape == Gm2.shape == (4, 3) and Gm1.dtype == complex
    assert Tm.shape == (4, 2, 2)
    assert d.log.count("Record") == 3 + 3 + 2 + (2 if isolation else 0)
    # port-1 standards recorded with Tx1, port-2 standards with Tx2
    txs = [v for k, v in (e for e in d.log if isinstance(e, tuple))]
    assert txs[:3] == [1, 1, 1] and txs[3:6] == [2, 2, 2]


def test_switch_correction_choice(hidden, monkeypatch, capsys):
    d = Driver()
    feed(monkeypatch, "\n\n")
    plain = hidden.prompt2PortMeasure(d, d.settings, PORTS, "DUT", 0)
    np.testing.assert_array_equal(plain, hidden.ab2S(d.given[0], d.given[1], PORTS))
    corrected = hidden.prompt2PortMeasure(d, d.settings, PORTS, sw_corr="yes")
    np.testing.assert_array_equal(corrected, hidden.ab2S_SwitchCorrect(d.given[2], d.given[3], PORTS))
    assert capsys.readouterr().out == ">> Measure DUT: Recording...Done.\n\n" * 2


def test_prompt_details(hidden, monkeypatch, capsys):
    d = Driver()
    feed(monkeypatch, "a comment\n\n")
    G = hidden.prompt1PortMeasure(d, d.settings, PORTS, PORTS["Tx1"])
    assert capsys.readouterr().out == ">> Measure  @ Port-1: Recording...Done.\n\n"
    np.testing.assert_array_equal(G, d.given[0][4] / d.given[0][3])
    same = dict(PORTS, Tx2=1)
    hidden.prompt1PortMeasure(d, d.settings, same, 1, "OPEN")
    assert capsys.readouterr().out.startswith(">> Measure OPEN @ Port-2: ")
    with pytest.raises(KeyError):
        hidden.prompt1PortMeasure(d, d.settings, PORTS, 5, "OPEN")
    with pytest.raises(KeyError):
        hidden.prompt1PortSOL(d, d.settings, PORTS, 5)
    with pytest.raises(TypeError):
        hidden.prompt1PortMeasure(d, d.settings, PORTS, 1, 7)
    assert capsys.readouterr().out == ""


@pytest.mark.parametrize("answer", ["q", "Q", "quit", "Quit", "QUIT"])
def test_quit_answers_end_the_script(hidden, monkeypatch, answer):
    d = Driver()
    feed(monkeypatch, answer + "\n")
    with pytest.raises(SystemExit) as info:
        hidden.prompt2PortSOLT(d, d.settings, PORTS)
    assert info.value.code is None
    assert "Record" not in d.log


@pytest.mark.parametrize("answer", [" q", "qq", "exit", "", "  ", "quit!"])
def test_look_alikes_are_returned(hidden, monkeypatch, answer):
    feed(monkeypatch, answer + "\n")
    assert hidden.userMsg("go? ") == answer


def test_end_of_input_propagates(hidden, monkeypatch):
    d = Driver()
    feed(monkeypatch, "\n")
    with pytest.raises(EOFError):
        hidden.prompt1PortSOL(d, d.settings, PORTS, 1)
    assert d.log.count("Record") == 1


def test_functions_are_found_at_call_time(hidden, monkeypatch, capsys):
    d = Driver()
    feed(monkeypatch, "\n" * 3)
    beeps, seen = [], []
    hidden.beep = lambda: beeps.append(1)
    real_ab2G = hidden.ab2G

    def spy(rec, ports):
        seen.append(rec)
        return real_ab2G(rec, ports)

    hidden.ab2G = spy
    hidden.prompt1PortSOL(d, d.settings, PORTS, 2)
    assert len(beeps) == 3 and [r is g for r, g in zip(seen, d.given)] == [True] * 3
