"""The benches' clock: the best of a few runs, the least disturbed by a
shared machine."""
import time


def best_of(call, repeat=5):
    """The shortest time of `repeat` runs of `call()`, in seconds."""
    times = []
    for _ in range(repeat):
        t = time.perf_counter()
        call()
        times.append(time.perf_counter() - t)
    return min(times)
