// The displacement tables shared by every distance transform of one real
// type: for each displacement (dx, dy) from a node to its generator, its
// Euclidean length (weighted propagation) and its squared length with the
// parity of the integer length (binary propagation and reconstruction).
//
// Both tables have sizes (d0, d1) with the zero displacement at the centre
// (x0, y0); displacement (dx, dy) sits at (dy + r1) * d0 + (dx + r0). A node's
// table position is a pointer into one of them, and handing a position to a
// neighbour moves it by one element (+-1) or one table row (+-d0).
#ifndef ZARN_DISTANCE_DISTANCE_FACTORY_HPP
#define ZARN_DISTANCE_DISTANCE_FACTORY_HPP

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include <lumo/details/array_2d/array_2d>

#include "pipeline/node.hpp"

namespace lumo::zarn {

template <typename T>
class distance_factory {
public:
    // Room left around the requested grid sizes when the tables grow.
    static constexpr size_t margin = 100;

    // Enlarges the geometry (not the tables) when the grid does not fit in
    // both dimensions; both capacities are then set from the request alone.
    static bool grow(size_t s0, size_t s1) {
        state& s = get();
        if (s.c0 >= s0 && s.c1 >= s1) return false;
        s.c0 = s0 + margin;
        s.c1 = s1 + margin;
        s.r0 = static_cast<std::int32_t>(s0 + margin - 1);
        s.r1 = static_cast<std::int32_t>(s1 + margin - 1);
        s.x0 = s0 + margin - 1;
        s.y0 = s1 + margin - 1;
        s.d0 = 2 * s.c0 - 1;
        s.d1 = 2 * s.c1 - 1;
        return true;
    }
    static bool grow(const lumo::size_array& sizes) { return grow(sizes[0], sizes[1]); }

    static void fill_lengths() {
        state& s = get();
        s.lengths.resize(s.d0, s.d1);
        fill_mirrored(s.lengths.data(), length_of);
    }

    static void fill_entries() {
        state& s = get();
        s.entries.resize(s.d0, s.d1);
        fill_mirrored(s.entries.data(), entry_of);
    }

    // Both tables depend on dx*dx + dy*dy only: each value of the quadrant
    // dx, dy >= 0 is computed once and stored at its four mirror places.
    template <typename E>
    static void fill_mirrored(lumo::array<E, lumo::array_2d<E>>& out,
                              E (*value_of)(std::int32_t, std::int32_t)) {
        const state& s = get();
        for (std::int32_t dy = 0; dy <= s.r1; ++dy) {
            const size_t below = static_cast<size_t>(s.r1 + dy) * s.d0 + s.x0;  // (0, dy)
            const size_t above = static_cast<size_t>(s.r1 - dy) * s.d0 + s.x0;  // (0, -dy)
            for (std::int32_t dx = 0; dx <= s.r0; ++dx) {
                const E v = value_of(dx, dy);
                const auto x = static_cast<size_t>(dx);
                out[below + x] = v;
                out[below - x] = v;
                out[above + x] = v;
                out[above - x] = v;
            }
        }
    }

    // dx*dx + dy*dy without overflow: the margin of the tables reaches
    // components above 46340 for grids a little over 46240 nodes long.
    static std::int64_t squared_of(std::int32_t dx, std::int32_t dy) {
        return std::int64_t(dx) * dx + std::int64_t(dy) * dy;
    }

    static T length_of(std::int32_t dx, std::int32_t dy) {
        return std::sqrt(static_cast<T>(squared_of(dx, dy)));
    }

    // A squared length above the 32-bit range is stored as the largest
    // 32-bit value; the parity comes from the true length.
    static entry entry_of(std::int32_t dx, std::int32_t dy) {
        const std::int64_t q = squared_of(dx, dy);
        const auto root = static_cast<std::uint64_t>(std::sqrt(static_cast<T>(q)));
        const std::int64_t top = std::numeric_limits<std::int32_t>::max();
        return entry{static_cast<std::int32_t>(q < top ? q : top),
                     static_cast<std::uint8_t>(root & 1)};
    }

    // True when the table has been filled for the current geometry.
    static bool lengths_current() { return covers(get().lengths); }
    static bool entries_current() { return covers(get().entries); }

    static const lumo::array_2d<T>& lengths() { return get().lengths; }
    static const lumo::array_2d<entry>& entries() { return get().entries; }
    static const T* length_storage() { return get().lengths.raw(); }
    static const entry* entry_storage() { return get().entries.raw(); }
    static const T* length_centre() {
        const state& s = get();
        return s.lengths.empty() ? nullptr : &s.lengths.data()[s.y0 * s.d0 + s.x0];
    }
    static const entry* entry_centre() {
        const state& s = get();
        return s.entries.empty() ? nullptr : &s.entries.data()[s.y0 * s.d0 + s.x0];
    }
    static size_t d0() { return get().d0; }
    static size_t d1() { return get().d1; }
    static size_t c0() { return get().c0; }
    static size_t c1() { return get().c1; }
    static std::int32_t r0() { return get().r0; }
    static std::int32_t r1() { return get().r1; }
    static size_t centre_row() { return get().y0; }
    static size_t centre_column() { return get().x0; }

private:
    struct state {
        lumo::array_2d<T> lengths;
        lumo::array_2d<entry> entries;
        size_t c0 = 0, c1 = 0;
        size_t d0 = 0, d1 = 0;
        std::int32_t r0 = 0, r1 = 0;
        size_t y0 = 0, x0 = 0;
    };

    // Created empty on first use and destroyed at exit; one per real type.
    static state& get() {
        static state s;
        return s;
    }

    template <typename E>
    static bool covers(const lumo::array_2d<E>& table) {
        const state& s = get();
        return !table.empty() && table.size(0) == s.d0 && table.size(1) == s.d1;
    }
};

}  // namespace lumo::zarn

#endif
