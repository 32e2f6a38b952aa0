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

#include "app/options.hpp"

namespace lumo::zarn {

template <typename T>
struct region_type;

using moment_sum = unsigned __int128;

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
// The moment sums are integers, exact on every grid of fewer than 2^32
// nodes: the second-order ones, and their products with the count, need
// 128 bits.
template <typename T>
struct region_type {
    std::uint64_t count;
    std::uint64_t sum_row;
    std::uint64_t sum_col;
    moment_sum sum_row2;
    moment_sum sum_col2;
    moment_sum sum_rowcol;
    T sqrt_det;  // sqrt(var_row var_col - cov^2), 0 where that is not positive
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

// n sum(a b) - sum(a) sum(b): n times the co-moment of two coordinates,
// exact. Not negative when a and b are the same coordinate.
inline __int128 centered_moment(std::uint64_t n, moment_sum sum_ab, std::uint64_t sum_a,
                                std::uint64_t sum_b) {
    const moment_sum whole = moment_sum(n) * sum_ab;
    const moment_sum parts = moment_sum(sum_a) * sum_b;
    return whole >= parts ? static_cast<__int128>(whole - parts) : -static_cast<__int128>(parts - whole);
}

// Means, variances, covariance and the root of the determinant from the
// sums. The variance and covariance numerators are formed exactly before the
// one division by n^2, so that nodes on one grid line have a variance of
// exactly 0 across it. A region without nodes has no moments: all derived
// fields are 0. A determinant that rounding makes slightly negative counts
// as 0.
template <typename T>
void region_update(region_type<T>& r) {
    if (r.count == 0) {
        r.mean_row = r.mean_col = r.var_row = r.cov = r.var_col = r.sqrt_det = 0;
        return;
    }
    const T q = T(1) / static_cast<T>(r.count);
    const T n2 = static_cast<T>(moment_sum(r.count) * r.count);
    r.mean_row = static_cast<T>(r.sum_row) * q;
    r.mean_col = static_cast<T>(r.sum_col) * q;
    r.var_row = static_cast<T>(centered_moment(r.count, r.sum_row2, r.sum_row, r.sum_row)) / n2;
    r.cov = static_cast<T>(centered_moment(r.count, r.sum_rowcol, r.sum_row, r.sum_col)) / n2;
    r.var_col = static_cast<T>(centered_moment(r.count, r.sum_col2, r.sum_col, r.sum_col)) / n2;
    const T det = r.var_col * r.var_row - r.cov * r.cov;
    r.sqrt_det = std::sqrt(det > T(0) ? det : T(0));
}

// r := a + b over the moment sums and the gap sums; then the statistics.
// r may be a.
template <typename T>
void region_sum(region_type<T>& r, const region_type<T>& a, const region_type<T>& b) {
    r.count = a.count + b.count;
    r.sum_row = a.sum_row + b.sum_row;
    r.sum_col = a.sum_col + b.sum_col;
    r.sum_row2 = a.sum_row2 + b.sum_row2;
    r.sum_col2 = a.sum_col2 + b.sum_col2;
    r.sum_rowcol = a.sum_rowcol + b.sum_rowcol;
    r.gap = a.gap + b.gap;
    r.gap_rr = a.gap_rr + b.gap_rr;
    r.gap_rc = a.gap_rc + b.gap_rc;
    r.gap_cc = a.gap_cc + b.gap_cc;
    region_update(r);
}

// r += o, then the statistics of r.
template <typename T>
void region_add(region_type<T>& r, const region_type<T>& o) {
    region_sum(r, r, o);
}

// A region with no nodes and no gaps.
template <typename T>
void region_clear(region_type<T>& r) {
    r = region_type<T>{};
}

// The nearest component with the feature flag at or above the one the slot
// holds (a node's component field or a component's parent field), or null.
// When one is found, the slot and every component passed on the way point
// at it; otherwise nothing is written.
template <typename T>
component_type<T>* component_find_feature(component_type<T>** slot) {
    component_type<T>* c = *slot;
    if (!c || c->feature) return c;
    component_type<T>* f = c->parent;
    while (f && !f->feature) f = f->parent;
    if (!f) return nullptr;
    while (c != f) {
        component_type<T>* next = c->parent;
        c->parent = f;
        c = next;
    }
    *slot = f;
    return f;
}

// The root of c's tree, as component_find, but the paths it shortens only
// skip components without the feature flag: every feature component above
// c stays above it, in order.
template <typename T>
component_type<T>* component_find_keep_features(component_type<T>* c) {
    for (;;) {
        component_type<T>* p = c->parent;
        if (!p) return c;
        if (p->feature) {
            c = p;
            continue;
        }
        if (component_type<T>* f = component_find_feature(&p->parent)) {
            c->parent = f;
            c = f;
            continue;
        }
        component_type<T>* r = component_find(p);
        c->parent = r;
        return r;
    }
}

// Joins the distinct roots a and b at a link of value v while features are
// made; returns the new root. The merged values are those of
// component_union, with valley v. A survivor by rank without the feature
// flag takes them and adds the other's region to its own; a feature
// survivor stays as it is (its region frozen), and a new component from the
// pool, one rank above it, with a new region holding both regions, becomes
// the parent of both.
template <typename T, typename Storage>
component_type<T>* component_merge(component_type<T>* a, component_type<T>* b, T v, Storage& storage) {
    const T peak = b->peak < a->peak ? b->peak : a->peak;
    const T span = b->span > a->span ? b->span : a->span;
    const std::uint8_t boundary = a->boundary ? std::uint8_t(1) : b->boundary;
    const bool b_survives = a->rank < b->rank;
    component_type<T>* s = b_survives ? b : a;
    component_type<T>* o = b_survives ? a : b;
    if (!s->feature) {
        s->peak = peak;
        s->valley = v;
        s->boundary = boundary;
        s->span = span;
        region_add(*s->region, *o->region);
        if (!b_survives && a->rank == b->rank) ++a->rank;
        o->parent = s;
        return s;
    }
    region_type<T>* r = storage.regions.take();
    region_sum(*r, *a->region, *b->region);
    component_type<T>* n = storage.components.take();
    *n = component_type<T>{peak, v, span, boundary, r, nullptr, s->rank + 1, 0};
    a->parent = n;
    b->parent = n;
    return n;
}

// The measure of fragmentation that a feature's area must exceed: the gap
// sum, its square (flat), or, with the affine normalisation whatever flat
// says, the border links' offsets weighted by the adjugate of the
// covariance over the root of its determinant. A region on one line
// divides by 0 there and is never a feature.
template <bool affine, bool flat, typename T>
T fragmentation_measure(const region_type<T>& r) {
    if constexpr (affine) {
        return (r.var_col * static_cast<T>(r.gap_rr) - T(2) * r.cov * static_cast<T>(r.gap_rc) +
                r.var_row * static_cast<T>(r.gap_cc)) /
               r.sqrt_det;
    } else if constexpr (flat) {
        return r.gap * r.gap;
    } else {
        return r.gap;
    }
}

// The feature of a region with its covariance scaled by s: mean and scaled
// covariance of its nodes' positions. False when it is no ellipse: a
// determinant that is not positive, or an entry that is not finite.
template <typename T>
bool make_feature(const region_type<T>& r, T s, feature_type<T>& f) {
    f.a = r.var_row * s;
    f.b = r.cov * s;
    f.c = r.var_col * s;
    f.x = r.mean_row;
    f.y = r.mean_col;
    f.determinant = f.c * f.a - f.b * f.b;
    return f.determinant > T(0) && std::isfinite(f.determinant) && std::isfinite(f.a) &&
           std::isfinite(f.b) && std::isfinite(f.c);
}

// Ascending link value; false when either value is NaN.
template <typename T>
bool link_value_less(const link<T>& a, const link<T>& b) {
    return a.value < b.value;
}

}  // namespace lumo::zarn

#endif
