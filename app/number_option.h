// The check every number option of kalvex gets.
#pragma once

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdlib>
#include <string>

namespace kalvex {

// A number option's values: finite and within [low, high]; the message names
// the option (inf, nan and 1e40 read as numbers, but no quantity of a run is
// any of them).
inline CLI::Validator FiniteIn(const std::string& option, double low, double high, const std::string& too_small = {}) {
  return CLI::Validator(
      [option, low, high, too_small](const std::string& text) -> std::string {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (end == text.c_str() || *end != '\0') return option + " takes a number, not " + text;
        if (std::isfinite(value) && value < low && !too_small.empty()) return too_small;
        if (!std::isfinite(value) || value < low || value > high) {
          return option + " must lie between " + CLI::detail::to_string(low) + " and " + CLI::detail::to_string(high) +
                 ", not " + text;
        }
        return {};
      },
      "NUMBER");
}

}  // namespace kalvex
