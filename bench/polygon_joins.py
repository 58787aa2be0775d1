"""Polygon joins against shapely's STRtree and DuckDB's spatial join; every answer is checked
in full against the peer's."""
from common import header


def nearest_polygons():
    """batch_knn_to_polygons and its sorted form."""


def self_join():
    """polygon_intersects_self_join."""


def distance_to_polygons():
    """batch_within_distance_to_polygons, its aggregate and points_within_distance_of_polygon."""


if __name__ == "__main__":
    header()
    nearest_polygons()
    self_join()
    distance_to_polygons()
