"""Files written whole or not at all."""
import contextlib
import os


@contextlib.contextmanager
def written_whole(path, mode: str = "wb", **open_args):
    """Opens `path` + '.part' for writing and renames it onto `path` when the
    block ends normally; on any error the partial file is removed and the old
    `path`, if any, is left as it was."""
    path = os.fspath(path)
    temp = path + ".part"
    try:
        with open(temp, mode, **open_args) as fp:
            yield fp
        os.replace(temp, path)
    except BaseException:
        if os.path.exists(temp):
            os.remove(temp)
        raise
