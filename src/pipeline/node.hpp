// The node record of the padded grid and its status flags.
#ifndef ZARN_PIPELINE_NODE_HPP
#define ZARN_PIPELINE_NODE_HPP

#include <cstddef>
#include <cstdint>

namespace lumo {

// A status word: a set of flags of an enumeration, stored as Word.
template <typename E, typename Word>
class enumeration {
public:
    constexpr enumeration() = default;
    constexpr enumeration(E e) : bits_(static_cast<Word>(e)) {}
    constexpr Word bits() const { return bits_; }
    constexpr bool has(E e) const { return (bits_ & static_cast<Word>(e)) != 0; }
    constexpr bool operator==(E e) const { return bits_ == static_cast<Word>(e); }
    constexpr bool operator!=(E e) const { return bits_ != static_cast<Word>(e); }
    constexpr bool operator==(enumeration o) const { return bits_ == o.bits_; }
    constexpr bool operator!=(enumeration o) const { return bits_ != o.bits_; }
    constexpr Word operator&(E e) const { return bits_ & static_cast<Word>(e); }
    enumeration& operator|=(E e) {
        bits_ |= static_cast<Word>(e);
        return *this;
    }

private:
    Word bits_ = 0;
};

}  // namespace lumo

namespace lumo::zarn {

// State flags (far, front, done) say where a node stands in the running
// front; kind flags say what the node is.
enum status_enum : unsigned long {
    far = 1,
    front = 2,
    done = 4,
    ordinary = 8,
    border = 16,
    second_ring = 32,
    interior = 64,
    boundary_seed = 128,
    medial = 256,
    plateau = 512,
};

using status = lumo::enumeration<status_enum, unsigned long>;

// Element of the binary displacement table: squared length and the parity of
// the integer part of the length.
struct entry {
    std::int32_t squared_length;
    std::uint8_t parity;
};

template <bool debug, typename T>
struct graph_vertex;  // boundary-graph vertex (both configurations), src/graph
template <typename T>
struct component_type;  // partition component, defined in partition/records.hpp

// One record per pixel of the padded grid. Fields 11 to 16 are shared
// between stages that never run at the same time.
template <bool debug, typename T>
struct node_type {
    std::uint64_t index;   // linear index in the grid
    status state;          // propagation state of the running front
    status kind;           // what the node is
    status kind_backup;    // primal kinds, kept across the dual distance run
    node_type* generator;  // nearest seed
    T value;               // binary: input byte; weighted: height
    graph_vertex<debug, T>* vertex;  // boundary-graph vertex on this node, or null
    T distance;
    std::uint8_t marker;   // medial marker byte
    std::uint64_t bucket;  // lowest bucket index the node was queued under
    T geodesic_distance;
    union {
        const T* length_position;     // weighted: element of the length table
        const entry* entry_position;  // binary: element of the entry table
        node_type* source;            // geodesic: source of the front
    };
    union {
        component_type<T>* component;  // partition
        node_type* parent;             // geodesic
    };
    std::uint64_t label;  // partition label / geodesic trace count
    std::uint8_t cover;   // feature cover byte / geodesic direction
    T residue;            // medial residue / geodesic step
};

static_assert(sizeof(node_type<false, double>) == 128, "node record of doubles is 128 bytes");
static_assert(sizeof(node_type<false, float>) == 112, "node record of floats is 112 bytes");

}  // namespace lumo::zarn

#endif
