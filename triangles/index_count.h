// How many indices a triangles frame draws, and where that passes the mesh:
// plain arithmetic without GL, so the runner can tell the last frame too.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace triangles {

inline constexpr std::int64_t mesh_value_count = 67108864;  // 2^26
inline constexpr std::int64_t mesh_bytes = mesh_value_count * 8;

// Indices drawn at step n after m measured frames: the n-th Fibonacci number
// (Binet's formula in doubles) over m + 1, plus 6n; saturated to 64 bits.
inline std::int64_t index_count_for(std::int64_t n, std::int64_t m) {
    constexpr std::int64_t most = std::numeric_limits<std::int64_t>::max();
    const double r = std::sqrt(5.0);
    const double phi = (r + 1) * 0.5;
    const double psi = (1 - r) * 0.5;
    const double nd = static_cast<double>(n);
    const double fibonacci = (std::pow(phi, nd) - std::pow(psi, nd)) * (1 / r);
    const double q = fibonacci / static_cast<double>(m + 1);
    std::int64_t six_n;
    if (__builtin_mul_overflow(n, std::int64_t{6}, &six_n)) six_n = most;
    const double sum = q + static_cast<double>(six_n);
    // 2^63 and above (infinity included) do not fit: saturate rather than
    // convert out of range.
    if (!(sum < 9223372036854775808.0)) return most;
    return static_cast<std::int64_t>(sum);
}

}  // namespace triangles
