// How a real value becomes a gray byte: times 255, truncated toward zero to a
// 32-bit integer, low 8 bits (values outside [0, 1] wrap around).
#ifndef ZARN_BRIDGE_BYTE_RULE_HPP
#define ZARN_BRIDGE_BYTE_RULE_HPP

#include <cstdint>

namespace lumo::bridge {

// The product is formed in the value's own precision. Infinities, NaN and
// products whose truncation leaves the 32-bit range have no defined
// conversion; they become 0.
template <typename R>
inline unsigned char real_to_byte(R v) {
    const double p = static_cast<double>(v * static_cast<R>(255));
    if (!(p > -2147483649.0 && p < 2147483648.0)) return 0;  // NaN fails too
    return static_cast<unsigned char>(static_cast<std::int32_t>(p) & 0xFF);
}

}  // namespace lumo::bridge

#endif
