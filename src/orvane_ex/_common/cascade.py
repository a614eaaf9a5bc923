"""Two-ports in cascade."""
import numpy as np


def cascade(*stacks: np.ndarray) -> np.ndarray:
    """S-parameters [n,2,2] of two-port stacks in cascade (first to last),
    from the scattering equations; stacks broadcast against each other."""
    A = np.asarray(stacks[0])
    for B in stacks[1:]:
        B = np.asarray(B)
        d = 1 - A[:, 1, 1] * B[:, 0, 0]
        S = np.empty(np.broadcast_shapes(A.shape, B.shape), complex)
        S[:, 0, 0] = A[:, 0, 0] + A[:, 0, 1] * A[:, 1, 0] * B[:, 0, 0] / d
        S[:, 0, 1] = A[:, 0, 1] * B[:, 0, 1] / d
        S[:, 1, 0] = A[:, 1, 0] * B[:, 1, 0] / d
        S[:, 1, 1] = B[:, 1, 1] + B[:, 0, 1] * B[:, 1, 0] * A[:, 1, 1] / d
        A = S
    return A
