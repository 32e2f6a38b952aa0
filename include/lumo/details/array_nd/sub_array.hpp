// lumo::sub_array: a view of a selection of an n-dimensional array (one
// index_array per dimension), and lumo::sub_array_assign, which walks every
// selected element once and combines it with a dense source buffer.
#ifndef LUMO_DETAILS_ARRAY_ND_SUB_ARRAY_HPP
#define LUMO_DETAILS_ARRAY_ND_SUB_ARRAY_HPP

#include <algorithm>
#include <cstddef>
#include <memory>
#include <type_traits>
#include <vector>

#include <lumo/details/array/array>
#include <lumo/details/array_nd/range.hpp>

namespace lumo {

template <typename T, typename Array_Type, bool Is_Const>
class sub_array {
public:
    using array_ref = std::conditional_t<Is_Const, const Array_Type&, Array_Type&>;

    // Dimensions beyond the given indices select position 0.
    sub_array(array_ref a, const array<index_array>& given) : a_(a) {
        const size_t dims = a.size().length();
        idx_.reserve_hint(dims);
        idx_.resize(dims);
        for (size_t i = 0; i < dims; ++i) {
            if (i < given.length()) {
                idx_[i] = given[i];
                LUMO_CHECK(!(idx_[i].is_range()) || idx_[i].ends() < a.size()[i],
                           "!(idx[i].is_range()) || idx[i].ends() < a.size()[i]");
            } else {
                idx_[i] = index_array({size_t{0}});
            }
        }
    }

    array_ref target() const { return a_; }
    const array<index_array>& indices() const { return idx_; }

private:
    array_ref a_;
    array<index_array> idx_;
};

namespace sub_array_details {

// One dimension of the walk.
struct record {
    size_t count = 0;
    std::ptrdiff_t step = 0;         // element step of a range or a whole dimension
    std::vector<std::ptrdiff_t> inc; // list: element moves between successive positions
    std::ptrdiff_t span = 0;         // element move from the first position to the last
    std::ptrdiff_t source_step = 0;  // source move per position
    bool list = false;
};

enum shape { list_shape, strided_shape, contiguous_shape };

template <int Op, typename E, typename T, typename F>
inline void apply(E* x, T* y, [[maybe_unused]] F& f) {
    if constexpr (Op == 0) *y = *x;
    else if constexpr (Op == 1) *x = *y;
    else if constexpr (Op == 2) *x = f(*x, T(0));
    else if constexpr (Op == 3) *x = f(*x, *y);
    else *x = f(*y, *x);
}

// The innermost loop: no index arithmetic per element.
template <int Op, int Shape, typename E, typename T, typename F>
inline void inner(E* p, T* y, const record& r, F& f) {
    const size_t n = r.count;
    const std::ptrdiff_t ys = r.source_step;
    if constexpr (Shape == contiguous_shape) {
        for (size_t j = 0; j < n; ++j, ++p, y += ys) apply<Op>(p, y, f);
    } else if constexpr (Shape == strided_shape) {
        const std::ptrdiff_t st = r.step;
        for (size_t j = 0; j < n; ++j, p += st, y += ys) apply<Op>(p, y, f);
    } else {
        const std::ptrdiff_t* inc = r.inc.data();
        for (size_t j = 0; j < n; ++j) {
            apply<Op>(p, y, f);
            p += inc[j];
            y += ys;
        }
    }
}

// Innermost record 0, the others walked as an odometer; the element and
// source pointers move by increments only.
template <int Op, int Shape, typename E, typename T, typename F>
void walk(E* base, T* source, const std::vector<record>& recs, F& f) {
    const size_t n = recs.size();
    if (n == 1) {
        inner<Op, Shape>(base, source, recs[0], f);
        return;
    }
    size_t stack_counters[4];
    std::unique_ptr<size_t[]> heap_counters;
    size_t* cnt = stack_counters;
    if (n >= 5) {
        heap_counters.reset(new size_t[n]);
        cnt = heap_counters.get();
    }
    for (size_t r = 0; r < n; ++r) cnt[r] = 0;
    E* row = base;
    T* yrow = source;
    for (;;) {
        inner<Op, Shape>(row, yrow, recs[0], f);
        size_t r = 1;
        for (; r < n; ++r) {
            const record& rec = recs[r];
            if (++cnt[r] < rec.count) {
                row += rec.list ? rec.inc[cnt[r] - 1] : rec.step;
                yrow += rec.source_step;
                break;
            }
            // Completed pass: back to the first position of this record.
            row -= rec.span;
            yrow -= rec.source_step * static_cast<std::ptrdiff_t>(rec.count - 1);
            cnt[r] = 0;
        }
        if (r == n) return;
    }
}

template <int Op, typename E, typename T, typename F>
void dispatch_shape(int s, E* base, T* source, const std::vector<record>& recs, F& f) {
    if (s == list_shape) walk<Op, list_shape>(base, source, recs, f);
    else if (s == strided_shape) walk<Op, strided_shape>(base, source, recs, f);
    else walk<Op, contiguous_shape>(base, source, recs, f);
}

}  // namespace sub_array_details

// Operation on each selected element x paired with source element y:
// 0 y = x, 1 x = y, 2 x = f(x, 0), 3 x = f(x, y), 4 x = f(y, x).
// Source element k of the dense order (first dimension fastest) sits
// k * source_step from the source pointer; a step of 0 pairs every element
// with the same value. A read-only view supports operation 0 only.
template <typename T, typename Array_Type, bool Is_Const, typename F = T (*)(T, T)>
void sub_array_assign(const sub_array<T, Array_Type, Is_Const>& view, T* source, int operation,
                      std::ptrdiff_t source_step, F f = nullptr) {
    using namespace sub_array_details;
    using E = std::conditional_t<Is_Const, const T, T>;
    LUMO_CHECK(operation >= 0 && operation <= 4, "operation >= 0 && operation <= 4");
    if constexpr (Is_Const) LUMO_CHECK(operation == 0, "operation == 0");

    auto& a = view.target();
    const array<index_array>& idx = view.indices();
    const size_array& sizes = a.size();
    const size_array& strides = a.stride();
    const size_t dims = idx.length();
    if (dims == 0) return;

    // One record per dimension, with its source step in the dense order.
    std::vector<record> recs(dims);
    std::vector<size_t> fixed(dims);
    std::vector<std::ptrdiff_t> elem_stride(dims);
    std::ptrdiff_t dense = source_step;
    for (size_t d = 0; d < dims; ++d) {
        const index_array& ix = idx[d];
        record& r = recs[d];
        const auto stride = static_cast<std::ptrdiff_t>(strides[d]);
        elem_stride[d] = stride;
        fixed[d] = ix.first();  // an empty list fails the element check here
        r.count = ix.count(sizes[d]);
        if (r.count == 0) return;
        r.source_step = dense;
        dense *= static_cast<std::ptrdiff_t>(r.count);
        if (ix.is_list()) {
            r.list = true;
            r.inc.assign(r.count, 0);
            for (size_t j = 0; j + 1 < r.count; ++j)
                r.inc[j] = (static_cast<std::ptrdiff_t>(ix.list[j + 1]) -
                            static_cast<std::ptrdiff_t>(ix.list[j])) * stride;
            r.span = (static_cast<std::ptrdiff_t>(ix.list[r.count - 1]) -
                      static_cast<std::ptrdiff_t>(ix.list[0])) * stride;
        } else {
            r.step = (ix.is_range() ? static_cast<std::ptrdiff_t>(ix.rng.st) : 1) * stride;
            r.span = r.step * static_cast<std::ptrdiff_t>(r.count - 1);
        }
    }

    // Longest loop innermost; single positions fold into the base offset.
    std::vector<size_t> order(dims);
    for (size_t d = 0; d < dims; ++d) order[d] = d;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t l, size_t r) { return recs[l].count > recs[r].count; });
    std::ptrdiff_t base = 0;
    std::vector<record> walk_recs;
    walk_recs.reserve(dims);
    for (size_t k = 0; k < dims; ++k) {
        const size_t d = order[k];
        base += static_cast<std::ptrdiff_t>(fixed[d]) * elem_stride[d];
        if (k > 0 && recs[d].count == 1) continue;
        walk_recs.push_back(std::move(recs[d]));
    }
    // The walk starts at the first position of every dimension.
    const record& innermost = walk_recs[0];
    const int s = innermost.list ? list_shape
                                 : (innermost.step == 1 ? contiguous_shape : strided_shape);
    E* start = a.raw() + base;
    switch (operation) {
        case 0: dispatch_shape<0>(s, start, source, walk_recs, f); break;
        case 1: if constexpr (!Is_Const) dispatch_shape<1>(s, start, source, walk_recs, f); break;
        case 2: if constexpr (!Is_Const) dispatch_shape<2>(s, start, source, walk_recs, f); break;
        case 3: if constexpr (!Is_Const) dispatch_shape<3>(s, start, source, walk_recs, f); break;
        default: if constexpr (!Is_Const) dispatch_shape<4>(s, start, source, walk_recs, f); break;
    }
}

}  // namespace lumo

#endif
