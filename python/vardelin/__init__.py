"""Exact spatial queries and joins over large in-memory point and polygon datasets."""

from vardelin._core import Engine

__all__ = ["Engine"]
