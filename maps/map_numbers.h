// Numbers as map files write them, read and written back: every number a
// finite value within a float's range (what the bridge's values and the
// messages carry), written as the shortest text that reads back the same.
#pragma once

#include "maps/map_file.h"

#include <string>

// What is wrong with `text` as such a number, or an empty text.
std::string read_number(const std::string &text, double &out);
// "LOW..HIGH" with different ends.
std::string read_range(const std::string &text, ValueRange &out);
// A time above 0 such as "50ms" or "0.2s", in seconds.
std::string read_duration(const std::string &text, double &seconds);

std::string number_text(double value);
std::string range_text(const ValueRange &range);
