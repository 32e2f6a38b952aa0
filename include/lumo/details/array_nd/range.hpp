// lumo::range and lumo::index_array: the index of one dimension of a
// selection, as an explicit list of positions, an inclusive arithmetic range
// or the whole dimension; lumo::index_list pairs two of them.
#ifndef LUMO_DETAILS_ARRAY_ND_RANGE_HPP
#define LUMO_DETAILS_ARRAY_ND_RANGE_HPP

#include <cstdint>
#include <initializer_list>
#include <type_traits>

#include <lumo/details/array/array>

namespace lumo {

namespace range_details {
// The step check of (s, st, e), written so that an unsigned step needs no
// (always false) comparison with 0.
template <typename T>
constexpr bool bad_step(T s, T st, T e) {
    if constexpr (std::is_signed_v<T>)
        return st == 0 || (st > 0 && s > e) || (st < 0 && s < e);
    else
        return st == 0 || s > e;
}
}  // namespace range_details

// Positions s, s + st, ... up to e; e is inclusive.
template <typename T>
struct range {
    T s;
    T e;
    T st;

    range(T first, T last) : s(first), e(last), st(1) { LUMO_CHECK(s <= e, "s <= e"); }
    // The step sits in the middle of the arguments, last in the fields.
    range(T first, T step, T last) : s(first), e(last), st(step) {
        LUMO_CHECK(!range_details::bad_step(s, st, e),
                   "!((st == 0 || (st > 0 && s > e) || (st < 0 && s < e)))");
    }
};

class index_array {
public:
    enum : std::int32_t { list_kind = 0, range_kind = 1, all_kind = 2 };

    // All positions of the dimension.
    index_array() : list(1, size_t{0}), rng(0, 0), kind(all_kind) {}
    explicit index_array(const array<size_t>& positions) : list(positions), rng(0, 0), kind(list_kind) {}
    // Positions in the given order; repeats allowed.
    index_array(std::initializer_list<size_t> positions) : rng(0, 0), kind(list_kind) {
        list.reserve_hint(positions.size());
        list.resize(positions.size());
        size_t i = 0;
        for (size_t p : positions) list[i++] = p;
    }
    index_array(const range<size_t>& r) : rng(r), kind(range_kind) {}  // NOLINT: implicit on purpose

    bool is_range() const { return kind == range_kind; }
    bool is_list() const { return kind == list_kind; }
    bool is_all() const { return kind == all_kind; }

    // The last selected position (0 for the whole dimension).
    size_t ends() const {
        if (kind == list_kind) return list[list.length() - 1];
        if (kind == range_kind) return rng.e;
        return 0;
    }
    // Number of selected positions in a dimension of the given size.
    size_t count(size_t dimension_size) const {
        if (kind == list_kind) return list.length();
        if (kind == range_kind) return (rng.e - rng.s) / rng.st + 1;
        return dimension_size;
    }
    // The first selected position; an empty list fails the element check.
    size_t first() const {
        if (kind == list_kind) return list[0];
        if (kind == range_kind) return rng.s;
        return 0;
    }

    array<size_t> list;
    range<size_t> rng;
    std::int32_t kind;
};

// The indices of a two-dimensional selection: first dimension, second.
inline array<index_array> index_list(const index_array& first, const index_array& second) {
    array<index_array> idx;
    idx.reserve_hint(2);
    idx.resize(2);
    idx[0] = first;
    idx[1] = second;
    return idx;
}

}  // namespace lumo

#endif
