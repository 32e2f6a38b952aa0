#!/usr/bin/python3
"""SciPy's exact Euclidean distance transform, the peer that checks the
reference of zarn_bench's exactness section.

  edt_peer.py <rows> <cols> <mask.raw> <out.raw>

mask.raw holds rows x cols bytes, row by row, non-zero = foreground.
out.raw gets, row by row as little-endian int64, the squared distance of
every pixel to the nearest foreground pixel (0 on the foreground), computed
in integers from the nearest foreground pixel that
scipy.ndimage.distance_transform_edt returns; its distances are checked to
be the square roots of these. Outside the array there is no foreground.
"""
import sys


def main():
    import numpy as np
    from scipy import ndimage

    rows, cols = int(sys.argv[1]), int(sys.argv[2])
    mask = np.fromfile(sys.argv[3], dtype=np.uint8).reshape(rows, cols)
    # distance_transform_edt measures non-zero elements to the nearest zero
    # element: the background is the non-zero input.
    dist, nearest = ndimage.distance_transform_edt(mask == 0, return_indices=True)
    r, c = np.indices((rows, cols))
    squared = (nearest[0] - r).astype(np.int64) ** 2 + (nearest[1] - c).astype(np.int64) ** 2
    if not np.all(mask[nearest[0], nearest[1]] != 0):
        sys.exit("a nearest pixel is not foreground")
    if np.max(np.abs(dist - np.sqrt(squared.astype(np.float64)))) > 1e-9:
        sys.exit("distances differ from their nearest pixels")
    squared.astype("<i8").tofile(sys.argv[4])
    print("ok")


if __name__ == "__main__":
    main()
