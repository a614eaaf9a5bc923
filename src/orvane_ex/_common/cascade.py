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


def s2t(S: np.ndarray) -> np.ndarray:
    """Cascading parameters [n,2,2] of two-ports, [b1, a1] = T [a2, b2]:
    T = (1/S21) [[-det S, S11], [-S22, 1]], as `hidden.S2T` defines them."""
    S = np.asarray(S, complex)
    T = np.empty_like(S)
    s21 = S[:, 1, 0]
    T[:, 0, 0] = (S[:, 0, 1] * S[:, 1, 0] - S[:, 0, 0] * S[:, 1, 1]) / s21
    T[:, 0, 1] = S[:, 0, 0] / s21
    T[:, 1, 0] = -S[:, 1, 1] / s21
    T[:, 1, 1] = 1 / s21
    return T


def t2s(T: np.ndarray) -> np.ndarray:
    """S-parameters [n,2,2] from the cascading parameters of `s2t`."""
    T = np.asarray(T, complex)
    S = np.empty_like(T)
    t22 = T[:, 1, 1]
    S[:, 0, 0] = T[:, 0, 1] / t22
    S[:, 0, 1] = (T[:, 0, 0] * T[:, 1, 1] - T[:, 0, 1] * T[:, 1, 0]) / t22
    S[:, 1, 0] = 1 / t22
    S[:, 1, 1] = -T[:, 1, 0] / t22
    return S


def flipped(S: np.ndarray) -> np.ndarray:
    """Two-ports [n,2,2] with their ports swapped."""
    return np.asarray(S)[:, ::-1, ::-1].copy()


def deembedded(S: np.ndarray, left=None, right=None) -> np.ndarray:
    """The two-port between `left` and `right` [n,2,2] in the cascade `S`
    (left, then the device, then right; port 2 of each feeding port 1 of
    the next); a side given as None has nothing to remove."""
    T = s2t(S)
    if left is not None:
        T = np.linalg.solve(s2t(left), T)
    if right is not None:
        T = np.swapaxes(np.linalg.solve(np.swapaxes(s2t(right), 1, 2), np.swapaxes(T, 1, 2)), 1, 2)
    return t2s(T)
