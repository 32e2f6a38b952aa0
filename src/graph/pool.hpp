// A pool of records that are referred to by pointer: appends never move a
// record and never run out of room. The first chunk is sized by the caller's
// estimate; an append past it adds a chunk as large as everything before, so
// what a run computes never depends on the estimate.
#ifndef ZARN_GRAPH_POOL_HPP
#define ZARN_GRAPH_POOL_HPP

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include <lumo/details/array/array>

namespace lumo::zarn {

template <typename R>
class stable_pool {
    struct chunk {
        R* data;
        size_t first;  // pool index of data[0]
        size_t size;
    };

public:
    // Smallest chunk added when the estimate is exceeded (or was 0).
    static constexpr size_t min_chunk = 256;

    class iterator {
    public:
        iterator() = default;
        R& operator*() const { return *p_; }
        R* operator->() const { return p_; }
        R* get() const { return p_; }
        size_t index() const { return index_; }
        iterator& operator++() {
            ++index_;
            if (++p_ == chunk_end_ && index_ < pool_->used_) enter(chunk_ + 1);
            return *this;
        }
        bool operator==(const iterator& o) const { return index_ == o.index_; }
        bool operator!=(const iterator& o) const { return index_ != o.index_; }

    private:
        friend class stable_pool;
        iterator(const stable_pool* pool, size_t index) : pool_(pool), index_(index) {
            if (index < pool->used_) {
                size_t k = pool->chunk_of(index);
                enter(k);
                p_ += index - pool->chunks_[k].first;
            }
        }
        void enter(size_t k) {
            chunk_ = k;
            p_ = pool_->chunks_[k].data;
            chunk_end_ = p_ + pool_->chunks_[k].size;
        }

        const stable_pool* pool_ = nullptr;
        size_t index_ = 0;
        size_t chunk_ = 0;
        R* p_ = nullptr;
        R* chunk_end_ = nullptr;
    };

    stable_pool() = default;
    stable_pool(const stable_pool&) = delete;
    stable_pool& operator=(const stable_pool&) = delete;
    ~stable_pool() { release(); }

    // Drops every record and makes room for `capacity` in one chunk.
    void reserve(size_t capacity) {
        release();
        if (capacity > 0) add_chunk(capacity);
    }

    // Destroys the records (last to first) and frees every chunk.
    void release() {
        for (size_t k = chunks_.size(); k-- > 0;) {
            const chunk& c = chunks_[k];
            size_t built = built_ > c.first ? built_ - c.first : 0;
            if (built > c.size) built = c.size;
            while (built-- > 0) c.data[built].~R();
            lumo::details::free_storage(c.data, c.size);
        }
        chunks_.clear();
        used_ = built_ = capacity_ = 0;
        last_ = 0;
    }

    // The next record; a record built by an earlier append (before the used
    // count went back to 0) keeps its contents, a new one is value-built.
    R& append() {
        if (used_ == capacity_) add_chunk(capacity_ > min_chunk ? capacity_ : min_chunk);
        const size_t index = used_;
        if (index >= chunks_[last_].first + chunks_[last_].size) ++last_;
        R* r = chunks_[last_].data + (index - chunks_[last_].first);
        if (index == built_) {
            ::new (static_cast<void*>(r)) R();
            ++built_;
        }
        if constexpr (requires { r->index = index; }) r->index = index;
        ++used_;
        return *r;
    }

    // Empties the pool without freeing anything: pointers into it stay valid.
    void clear() {
        used_ = 0;
        last_ = 0;
    }

    R& operator[](size_t i) {
        LUMO_CHECK(i < used_, "offset >= 0 && offset < length()");
        const chunk& c = chunks_[chunk_of(i)];
        return c.data[i - c.first];
    }
    const R& operator[](size_t i) const { return const_cast<stable_pool&>(*this)[i]; }

    size_t used() const { return used_; }
    size_t capacity() const { return capacity_; }
    size_t chunk_count() const { return chunks_.size(); }

    iterator begin() const { return iterator(this, 0); }
    iterator end() const { return iterator(this, used_); }
    iterator at(size_t index) const { return iterator(this, index < used_ ? index : used_); }

private:
    void add_chunk(size_t size) {
        // The arrays' storage: a large chunk is touched one huge page at a time.
        R* data = lumo::details::allocate_storage<R>(size);
        chunks_.push_back(chunk{data, capacity_, size});
        capacity_ += size;
    }

    size_t chunk_of(size_t i) const {
        size_t k = 0;
        while (i >= chunks_[k].first + chunks_[k].size) ++k;
        return k;
    }

    std::vector<chunk> chunks_;
    size_t used_ = 0;
    size_t built_ = 0;  // records constructed so far (indexes below it)
    size_t capacity_ = 0;
    size_t last_ = 0;  // chunk holding index used_ - 1 (or 0)
};

}  // namespace lumo::zarn

#endif
