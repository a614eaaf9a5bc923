"""Files written whole or not at all: the one writer helper of the Python
side (the native Touchstone writer follows the same rule)."""
import contextlib
import os
import tempfile
import threading

_umask_lock = threading.Lock()


def _umask() -> int:
    """The process's umask, read without changing it where the system allows
    (setting it to read it races with every thread creating a file)."""
    try:
        with open("/proc/self/status", encoding="ascii", errors="replace") as fp:
            for line in fp:
                if line.startswith("Umask:"):
                    return int(line.split()[1], 8)
    except (OSError, ValueError, IndexError):
        pass
    with _umask_lock:
        mask = os.umask(0o022)
        os.umask(mask)
    return mask


def _named(error: OSError, path: str) -> OSError:
    """`error` naming `path` (not the temporary file, nor nothing at all)."""
    if error.filename == path:
        return error
    if error.errno is not None:
        return OSError(error.errno, error.strerror, path)   # the same subclass (FileNotFoundError, ...)
    return OSError(f"{path}: {error}")


def _sync_folder(folder: str) -> None:
    """Makes a rename in `folder` durable, where the file system allows."""
    try:
        fd = os.open(folder or ".", os.O_RDONLY | getattr(os, "O_DIRECTORY", 0))
    except OSError:
        return
    try:
        os.fsync(fd)
    except OSError:
        pass
    finally:
        os.close(fd)


@contextlib.contextmanager
def written_whole(path, mode: str = "wb", *, durable: bool = True, **open_args):
    """Opens a new file for writing under a unique temporary name in `path`'s
    folder (concurrent writers of one path never share a file) and renames it
    onto `path` when the block ends normally, so that readers see the old file
    or the whole new one. On any error only that temporary file is removed and
    the old `path`, if any, is left as it was; an OSError names `path`.

    durable: fsync the file before the rename and the folder after it, so that
    a power cut leaves the old file or the new one, never an empty one (for
    files that are costly to make again: calibrations, kits).
    """
    path = os.fspath(path)
    folder, name = os.path.split(path)
    prefix = (name if len(os.fsencode(name)) <= 200 else "orvane_ex") + "."
    try:
        fd, temp = tempfile.mkstemp(prefix=prefix, suffix=".part", dir=folder or ".")
    except OSError as e:
        raise _named(e, path) from None
    try:
        try:
            os.fchmod(fd, 0o666 & ~_umask())    # mkstemp's files are private; the result is an ordinary new file
            fp = os.fdopen(fd, mode, **open_args)
        except BaseException:
            os.close(fd)
            raise
        with fp:
            yield fp
            fp.flush()
            if durable:
                os.fsync(fp.fileno())
        os.replace(temp, path)
    except BaseException as e:
        with contextlib.suppress(OSError):
            os.remove(temp)
        if isinstance(e, OSError):
            raise _named(e, path) from e
        raise
    if durable:
        _sync_folder(folder)
