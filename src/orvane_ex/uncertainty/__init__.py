"""Measurement uncertainty through every calibration: an uncertainty budget
(`Budget`, a TOML file or an object), linear propagation with exact
derivatives (`cal.with_uncertainty(budget)`, `cal.apply(Sm, budget=...)`),
Monte Carlo over the same budget (`monte_carlo`), and corrected values with
their covariance (`UncertainS`)."""
from .budget import Budget, BudgetError, Noise, OnWaferBudget, PortStability, Profile, TRLBudget
from .montecarlo import monte_carlo
from .result import UncertainS

__all__ = ["Budget", "BudgetError", "Noise", "OnWaferBudget", "PortStability", "Profile", "TRLBudget", "UncertainS",
           "monte_carlo"]
