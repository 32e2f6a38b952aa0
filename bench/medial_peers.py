#!/usr/bin/python3
"""The scikit-image peers of the medial benchmark, on the zero region of a
mask file (the shape whose axis zarn -m -b computes).

  medial_peers.py time <mask>         best of three in-process runs of
                                      medial_axis and skeletonize, in ms
  medial_peers.py whole <mask> <out>  what a whole process does: load the
                                      mask, medial_axis, save the axis
"""
import sys
import time


def best_ms(f, shape, runs=3):
    best = float("inf")
    for _ in range(runs):
        t0 = time.perf_counter()
        f(shape)
        best = min(best, (time.perf_counter() - t0) * 1e3)
    return best


def main():
    import numpy as np
    from skimage import io
    from skimage.morphology import medial_axis, skeletonize

    mode, path = sys.argv[1], sys.argv[2]
    shape = io.imread(path) == 0
    if mode == "whole":
        axis = medial_axis(shape)
        io.imsave(sys.argv[3], (axis * 255).astype(np.uint8), check_contrast=False)
        return
    print("medial_axis %.3f" % best_ms(medial_axis, shape))
    print("skeletonize %.3f" % best_ms(skeletonize, shape))


if __name__ == "__main__":
    main()
