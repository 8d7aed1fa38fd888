#include "common/number.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace common {

namespace {
bool all_digits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}
}  // namespace

std::optional<double> parse_number(std::string_view token) {
    std::string_view t = token;
    bool negative = false;
    if (!t.empty() && t.front() == '-') {
        negative = true;
        t.remove_prefix(1);
    }
    if (t == "inf") return negative ? -HUGE_VAL : HUGE_VAL;
    if (t == "nan") return negative ? -std::nan("") : std::nan("");  // the sign is printed too
    // digits [. digits] [e sign digits]
    std::string_view mantissa = t, exponent;
    if (auto e = t.find('e'); e != std::string_view::npos) {
        mantissa = t.substr(0, e);
        exponent = t.substr(e + 1);
        if (exponent.size() < 2 || (exponent[0] != '+' && exponent[0] != '-') ||
            !all_digits(exponent.substr(1)))
            return std::nullopt;
    }
    const auto dot = mantissa.find('.');
    if (dot == std::string_view::npos) {
        if (!all_digits(mantissa)) return std::nullopt;
    } else if (!all_digits(mantissa.substr(0, dot)) || !all_digits(mantissa.substr(dot + 1))) {
        return std::nullopt;
    }
    const std::string text(token);
    return std::strtod(text.c_str(), nullptr);
}

double rounding_bound(double printed) {
    if (!std::isfinite(printed) || printed == 0) return 0;
    const double magnitude = std::floor(std::log10(std::fabs(printed)));
    return 0.5 * std::pow(10.0, magnitude - 5);
}

bool agrees(double recomputed, double printed, double relative_uncertainty) {
    if (std::isnan(recomputed) || std::isnan(printed))
        return std::isnan(recomputed) && std::isnan(printed);
    if (std::isinf(recomputed) || std::isinf(printed)) return recomputed == printed;
    // A hair of slack for the floating-point sums behind the recomputation.
    const double slack = rounding_bound(printed) +
                         std::fabs(recomputed) * (relative_uncertainty + 1e-12);
    return std::fabs(recomputed - printed) <= slack;
}

std::string format_printed(double v) {
    // What a default ostream writes ("%.6g"), without a stream for every figure.
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

std::string format_sig(double v, int digits) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char text[64];
    std::snprintf(text, sizeof text, "%.*g", digits, v);
    return text;
}

std::string format_fixed(double v, int decimals) {
    if (!std::isfinite(v)) return format_sig(v, 6);
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

}  // namespace common
