// The partition's storage: pools of components and regions, and the links in
// the order they were made. The pipeline owns one; each partition run
// re-sizes it from its count of ridge seeds.
#ifndef ZARN_PARTITION_STORAGE_HPP
#define ZARN_PARTITION_STORAGE_HPP

#include <cstddef>
#include <vector>

#include <lumo/details/array/array>

#include "partition/records.hpp"

namespace lumo::zarn {

// Records taken in order and never given back, in one block sized before the
// first is taken: a record never moves, and its position is its label.
// Taking past the block fails the array's index assertion; the sizes given
// to reset make that impossible.
template <typename R>
class record_pool {
public:
    // Empty, with room for n records (their contents undefined until taken).
    void reset(size_t n) {
        records_.release(true);
        records_.resize(n);
        count_ = 0;
    }

    R* take() {
        R* r = &records_[count_];
        ++count_;
        return r;
    }

    // The first record's place, also for a pool without records.
    R* first() { return records_.data(); }
    const R* first() const { return records_.data(); }

    size_t count() const { return count_; }
    size_t capacity() const { return records_.length(); }
    R& operator[](size_t i) { return records_[i]; }
    const R& operator[](size_t i) const { return records_[i]; }
    R* begin() { return records_.data(); }
    R* end() { return records_.data() + count_; }

    void release() {
        records_.release(true);
        count_ = 0;
    }

private:
    lumo::array<R> records_;
    size_t count_ = 0;
};

template <typename T>
struct partition_storage {
    record_pool<component_type<T>> components;
    record_pool<region_type<T>> regions;
    std::vector<link<T>> links;  // in the order they were made

    // Each ridge seed makes at most one component, and each merge that
    // keeps a feature frozen one more component and region, so 2n + 1
    // records always suffice; the allocation factor may ask for more. Links
    // grow as they are made. Room that is never taken is never touched.
    // The factor is held within [1, 10], as the option is.
    static size_t records_for(size_t seeds, double factor) {
        const size_t least = 2 * seeds + 1;
        if (!(factor > 1)) return least;
        const double asked = static_cast<double>(seeds) * (factor < 10 ? factor : 10.0);
        return asked > static_cast<double>(least) ? static_cast<size_t>(asked) : least;
    }

    void reserve(size_t seeds, double factor) {
        const size_t m = records_for(seeds, factor);
        components.reset(m);
        regions.reset(m);
        links.clear();
        links.reserve(seeds);
    }

    void release() {
        components.release();
        regions.release();
        std::vector<link<T>>().swap(links);
    }
};

}  // namespace lumo::zarn

#endif
