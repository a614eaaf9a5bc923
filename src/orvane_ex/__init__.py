"""Calibration and measurement helpers for the QLM-417 vector network analyser.

The helpers live in the extension module ``orvane_ex.hidden``; importing this
package alone does not load it (importing it selects matplotlib's back end).
"""
