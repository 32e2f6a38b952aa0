"""scikit-image's watershed on one image, as the partition benchmark runs it.

Usage: /usr/bin/python3 watershed_peer.py <image> <photo|mask>

The image is made binary (a photograph at the middle gray, a mask at 0), its
Euclidean distance taken, the local maxima of the distance (3 x 3) labelled
as markers, and the watershed of the negated distance grown from them inside
the foreground. Prints the best of three, in milliseconds:
"edt <ms> markers <ms> watershed <ms> regions <n>".
"""
import sys
import time

import numpy as np
from scipy import ndimage as ndi
from skimage.feature import peak_local_max
from skimage.io import imread
from skimage.segmentation import watershed


def best_of(runs, f):
    best, result = None, None
    for _ in range(runs):
        t0 = time.perf_counter()
        result = f()
        ms = (time.perf_counter() - t0) * 1000.0
        best = ms if best is None else min(best, ms)
    return best, result


def main():
    image = imread(sys.argv[1], as_gray=True)
    if image.dtype != np.uint8:
        image = (image * 255).astype(np.uint8) if image.max() <= 1.0 else image.astype(np.uint8)
    binary = image > 127 if sys.argv[2] == "photo" else image > 0
    edt_ms, distance = best_of(3, lambda: ndi.distance_transform_edt(binary))

    def make_markers():
        peaks = peak_local_max(distance, footprint=np.ones((3, 3)), labels=binary)
        mask = np.zeros(distance.shape, dtype=bool)
        mask[tuple(peaks.T)] = True
        return ndi.label(mask)[0]

    markers_ms, markers = best_of(3, make_markers)
    ws_ms, labels = best_of(3, lambda: watershed(-distance, markers, mask=binary))
    print("edt %.3f markers %.3f watershed %.3f regions %d"
          % (edt_ms, markers_ms, ws_ms, int(labels.max())))


if __name__ == "__main__":
    main()
