#include "maps/map_numbers.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

std::string read_number(const std::string &text, double &out) {
  char *end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size()) {
    return "\"" + text + "\" is not a number";
  }
  if (std::isnan(value)) {
    return "\"" + text + "\" is not a number (NaN)";
  }
  // Overflow gives an infinity; underflow the nearest value, which is meant.
  if (std::isinf(value) && errno != ERANGE) {
    return "\"" + text + "\" is not finite";
  }
  if (!(std::fabs(value) <= std::numeric_limits<float>::max())) {
    return text + " is past a float's range (at most 3.4028235e+38)";
  }
  out = value;
  return "";
}

std::string read_range(const std::string &text, ValueRange &out) {
  const std::size_t dots = text.find("..");
  if (dots == std::string::npos) {
    return "\"" + text + "\" is not a range such as -180..180";
  }
  std::string wrong = read_number(text.substr(0, dots), out.low);
  if (wrong.empty()) {
    wrong = read_number(text.substr(dots + 2), out.high);
  }
  if (!wrong.empty()) {
    return "the range " + text + ": " + wrong;
  }
  if (out.low == out.high) {
    return "the range " + text + " has equal ends";
  }
  return "";
}

std::string read_duration(const std::string &text, double &seconds) {
  const bool ms = text.size() > 2 && text.compare(text.size() - 2, 2, "ms") == 0;
  const bool s = !ms && text.size() > 1 && text.back() == 's';
  const std::string wrong =
      ms || s ? read_number(text.substr(0, text.size() - (ms ? 2 : 1)), seconds) : "x";
  if (!wrong.empty() || seconds <= 0) {
    return "\"" + text + "\" is not a time above 0, such as 50ms or 0.2s";
  }
  seconds /= ms ? 1000 : 1;
  return "";
}

std::string number_text(double value) {
  char text[32];
  const std::to_chars_result end = std::to_chars(text, text + sizeof text, value);
  return {text, end.ptr};
}

std::string range_text(const ValueRange &range) {
  return number_text(range.low) + ".." + number_text(range.high);
}
