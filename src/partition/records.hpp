// The records of the partition (components, their regions, the links between
// them) and the union-find operations over components.
//
// Records are plain aggregates taken from pools that never move them: a
// component's label is its position in its pool, and every reference to a
// record is a pointer.
#ifndef ZARN_PARTITION_RECORDS_HPP
#define ZARN_PARTITION_RECORDS_HPP

#include <cmath>
#include <cstdint>

namespace lumo::zarn {

template <typename T>
struct region_type;

// A set of grid nodes grown from ridge seeds, and a node of the union-find
// forest over them.
template <typename T>
struct component_type {
    T peak;    // value of the creating node; the smaller one on every union
    T valley;  // 0 at creation; feature merging: value of the link it last grew at
    T span;    // span term of the creating node; the larger one on every union
    std::uint8_t boundary;   // holds a node of the second frame ring
    region_type<T>* region;  // moments of its nodes, null until attached
    component_type* parent;  // null for a root
    std::uint64_t rank;
    std::uint8_t feature;  // accepted as a feature by merging
};

// Moments of a component's nodes (row = index / w, column = index mod w of
// the padded grid) and the gap sums of the links at its border. The sums and
// gaps are the state; the derived fields are valid after region_update.
template <typename T>
struct region_type {
    T count;
    T sum_row;
    T sum_col;
    T sum_row2;
    T sum_col2;
    T sum_rowcol;
    T sqrt_det;  // sqrt(var_row var_col - cov^2)
    T var_row;
    T cov;
    T var_col;
    T mean_row;
    T mean_col;
    T gap;  // sum of the border links' widths
    // The same sums over the links' offset products (modulo 2^64).
    std::uint64_t gap_rr;
    std::uint64_t gap_rc;
    std::uint64_t gap_cc;
};

// Where two components met: the roots at the time, the value of the meeting
// node, its span term (squared unless flat) and the products of the node's
// row and column offsets from its origin.
template <typename T>
struct link {
    component_type<T>* c1;
    component_type<T>* c2;
    T value;
    T width;
    std::uint64_t rr;  // dr^2
    std::uint64_t rc;  // |dr| |dc|
    std::uint64_t cc;  // dc^2
};

// The root of c's tree; every component on the way ends pointing at it. A
// loop rather than recursion: the chains of feature merging can be long.
template <typename T>
component_type<T>* component_find(component_type<T>* c) {
    component_type<T>* root = c;
    while (root->parent) root = root->parent;
    while (c != root) {
        component_type<T>* next = c->parent;
        if (next != root) c->parent = root;
        c = next;
    }
    return root;
}

// Joins the distinct roots a and b by rank: the survivor takes the smaller
// peak, the larger span and the union of the boundary flags; on equal ranks
// b goes under a. Valleys, regions and feature flags are left alone.
// Returns the survivor.
template <typename T>
component_type<T>* component_union(component_type<T>* a, component_type<T>* b) {
    const T peak = b->peak < a->peak ? b->peak : a->peak;
    const T span = b->span > a->span ? b->span : a->span;
    const std::uint8_t boundary = a->boundary ? std::uint8_t(1) : b->boundary;
    component_type<T>* survivor = a;
    if (a->rank < b->rank) {
        survivor = b;
        a->parent = b;
    } else {
        if (a->rank == b->rank) ++a->rank;
        b->parent = a;
    }
    survivor->peak = peak;
    survivor->span = span;
    survivor->boundary = boundary;
    return survivor;
}

// Means, variances, covariance and the root of the determinant from the
// sums. A region without nodes has no moments: all derived fields are 0. A
// determinant that rounding makes slightly negative counts as 0.
template <typename T>
void region_update(region_type<T>& r) {
    if (r.count == T(0)) {
        r.mean_row = r.mean_col = r.var_row = r.cov = r.var_col = r.sqrt_det = 0;
        return;
    }
    const T q = T(1) / r.count;
    r.mean_row = r.sum_row * q;
    r.mean_col = r.sum_col * q;
    r.var_row = r.sum_row2 * q - r.mean_row * r.mean_row;
    r.cov = r.sum_rowcol * q - r.mean_row * r.mean_col;
    r.var_col = r.sum_col2 * q - r.mean_col * r.mean_col;
    const T det = r.var_col * r.var_row - r.cov * r.cov;
    r.sqrt_det = std::sqrt(det > T(0) ? det : T(0));
}

// Ascending link value; false when either value is NaN.
template <typename T>
bool link_value_less(const link<T>& a, const link<T>& b) {
    return a.value < b.value;
}

}  // namespace lumo::zarn

#endif
