"""Batch point joins against the libraries a user would otherwise reach for: scipy's cKDTree,
NumPy masks, shapely's STRtree and DuckDB's parallel spatial join. Each section below is one
family of joins; every answer is checked in full against the peer's."""
from common import header


def knn_and_box_joins():
    """batch_knn_join against cKDTree.query; batch_within against a NumPy mask."""


def distance_joins():
    """batch_within_distance, planar, flipped and geographic."""


def containment_joins():
    """batch_contains and batch_contains_aggregate against STRtree and DuckDB."""


if __name__ == "__main__":
    header()
    knn_and_box_joins()
    distance_joins()
    containment_joins()
