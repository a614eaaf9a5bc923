"""Files written whole or not at all, by both writers (the native Touchstone
writer and the Python helper behind calibration and kit files): concurrent
writers of one path, permissions, errors that name the file, and nothing left
behind."""
import errno
import os
import stat
import threading

import numpy as np
import pytest

from orvane_ex import calset, touchstone
from orvane_ex._common.atomic import written_whole

F = np.linspace(1e9, 2e9, 201)


def touchstone_writer(path, i):
    touchstone.write(path, F, np.full((len(F), 2, 2), i + 0.5j))
    return lambda: touchstone.read(path)[1][0, 0, 0] == i + 0.5j and touchstone.read(path)[1].shape == (201, 2, 2)


def calibration_writer(path, i):
    cal = calset.ResponseCal(F, {"H": np.full((len(F), 2, 2), i + 1.0 + 0j)}, notes=f"writer {i}")
    cal.save(path)
    return lambda: calset.load(path).notes == f"writer {i}"


@pytest.mark.parametrize("writer,name", [(touchstone_writer, "x.s2p"), (calibration_writer, "cal.npz")])
def test_concurrent_writers_of_one_path_never_mix_or_fail(tmp_path, writer, name):
    path = tmp_path / name
    threads, rounds = 8, 12
    for _ in range(rounds):
        start = threading.Barrier(threads)
        errors, checks = [], {}

        def write(i):
            start.wait()
            try:
                checks[i] = writer(path, i)
            except Exception as e:      # noqa: BLE001 (any failure is the finding)
                errors.append(e)

        pool = [threading.Thread(target=write, args=(i,)) for i in range(threads)]
        for t in pool:
            t.start()
        for t in pool:
            t.join()
        assert errors == []
        assert sum(check() for check in checks.values()) == 1     # the file is exactly one of the writes
    assert os.listdir(tmp_path) == [name]


@pytest.mark.parametrize("writer", ["touchstone", "calibration", "text"])
def test_written_files_get_a_new_files_permissions(tmp_path, writer):
    old = os.umask(0o027)
    try:
        path = tmp_path / ("x.s2p" if writer == "touchstone" else "x")
        if writer == "touchstone":
            touchstone_writer(path, 1)
        elif writer == "calibration":
            calibration_writer(path, 1)
        else:
            with written_whole(path, "w", encoding="utf-8") as fp:
                fp.write("text")
    finally:
        os.umask(old)
    assert stat.S_IMODE(os.stat(path).st_mode) == 0o640


def test_errors_name_the_file_not_the_temporary_one(tmp_path, monkeypatch):
    cal = calset.ResponseCal(F, {"H": np.ones((len(F), 2, 2), complex)})
    with pytest.raises(FileNotFoundError) as info:
        cal.save(tmp_path / "nodir" / "cal.npz")
    assert info.value.filename == str(tmp_path / "nodir" / "cal.npz")

    def disk_full(fp, *args, **kwargs):
        fp.write(b"half")
        raise OSError(errno.ENOSPC, os.strerror(errno.ENOSPC))

    monkeypatch.setattr(np, "savez", disk_full)
    with pytest.raises(OSError, match="No space left on device") as info:
        cal.save(tmp_path / "cal.npz")
    assert info.value.errno == errno.ENOSPC and info.value.filename == str(tmp_path / "cal.npz")
    assert os.listdir(tmp_path) == []


@pytest.mark.skipif(os.geteuid() == 0, reason="root writes into read-only folders")
def test_a_read_only_folder(tmp_path):
    folder = tmp_path / "ro"
    folder.mkdir()
    folder.chmod(0o500)
    try:
        with pytest.raises(PermissionError) as info:
            touchstone_writer(folder / "x.s2p", 1)
        assert info.value.filename == str(folder / "x.s2p")
        with pytest.raises(PermissionError) as info:
            calibration_writer(folder / "cal.npz", 1)
        assert info.value.filename == str(folder / "cal.npz")
    finally:
        folder.chmod(0o700)
