// The FIFO queues of node pointers that drive the distance fronts: the two
// parity queues of the binary propagation and the integer bucket queue of the
// weighted propagation.
#ifndef ZARN_DISTANCE_QUEUES_HPP
#define ZARN_DISTANCE_QUEUES_HPP

#include <cstddef>
#include <vector>

#include <lumo/details/array/array>

namespace lumo::zarn {

// First in, first out, over one growing block: taking advances a head index,
// and the block is reused from the start once it has been drained.
template <typename P>
class fifo {
public:
    bool empty() const { return head_ == items_.size(); }
    size_t size() const { return items_.size() - head_; }
    void push_back(P p) { items_.push_back(p); }
    // Room for n entries in all, so that growth never copies the block.
    void reserve(size_t n) { items_.reserve(n); }
    P front() const { return items_[head_]; }
    P pop_front() {
        P p = items_[head_++];
        if (head_ == items_.size()) clear();
        return p;
    }
    // Entry i counted from the front.
    P operator[](size_t i) const { return items_[head_ + i]; }
    // Entry i counted from the front, or null past the back.
    P peek(size_t i) const { return head_ + i < items_.size() ? items_[head_ + i] : P(); }
    void clear() {
        items_.clear();
        head_ = 0;
    }
    // Gives the storage back; used once a queue will no longer be drained.
    void release() {
        std::vector<P>().swap(items_);
        head_ = 0;
    }

private:
    std::vector<P> items_;
    size_t head_ = 0;
};

// Two FIFO queues taken alternately: a bucket queue of two buckets over the
// parity of the integer length.
template <typename Node>
struct parity_queues {
    bool index = false;
    fifo<Node*> queue[2];
    fifo<Node*>* current = &queue[0];

    parity_queues() = default;
    parity_queues(const parity_queues&) = delete;
    parity_queues& operator=(const parity_queues&) = delete;

    void push(Node* n, unsigned parity) { queue[parity].push_back(n); }

    // The entry `ahead` places behind the front of the current queue, or null.
    Node* peek(size_t ahead) const { return current->peek(ahead); }

    // Null when both queues are empty; switches queue when the current one is.
    Node* take() {
        if (current->empty()) {
            index = !index;
            current = &queue[index];
            if (current->empty()) return nullptr;
        }
        return current->pop_front();
    }
};

// Queues indexed by the integer part of a distance. The cursor is an index
// and only moves forward; a node pushed below it is never taken. A push past
// the last bucket enlarges the array.
template <typename Node>
class bucket_array {
public:
    using queue_type = fifo<Node*>;

    explicit bucket_array(size_t count = 0) { buckets_.resize(count); }
    bucket_array(const bucket_array&) = delete;
    bucket_array& operator=(const bucket_array&) = delete;

    size_t count() const { return buckets_.length(); }
    size_t cursor() const { return cursor_; }
    const queue_type& bucket(size_t b) const { return buckets_[b]; }

    void push(Node* n, size_t b) {
        if (b >= buckets_.length()) enlarge(b);
        buckets_[b].push_back(n);
    }

    // The entry `ahead` places behind the front of the cursor's bucket, or null.
    Node* peek(size_t ahead) const {
        return cursor_ < buckets_.length() ? buckets_.data()[cursor_].peek(ahead) : nullptr;
    }

    // Null when every bucket from the cursor on is empty.
    Node* take() {
        const size_t n = buckets_.length();
        if (cursor_ == n) return nullptr;
        queue_type* q = buckets_.data() + cursor_;
        while (q->empty()) {
            q->release();  // left behind for good
            if (++cursor_ == n) return nullptr;
            ++q;
        }
        return q->pop_front();
    }

private:
    // Room for bucket b and half as many again, so that growth is rare.
    void enlarge(size_t b) {
        const size_t n = buckets_.length();
        const size_t wanted = b + 1 + n / 2;
        buckets_.resize(wanted);
    }

    lumo::array<queue_type> buckets_;
    size_t cursor_ = 0;
};

}  // namespace lumo::zarn

#endif
