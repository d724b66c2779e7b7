// The words of a rule after its "<-", read through one table: which word
// sets what, for which kinds of rule, and which words exclude each other.
#pragma once

#include "maps/map_file.h"

#include <string>
#include <vector>

// Reads words[first...] into `rule`, whose kind (OSC, or the MIDI message)
// is already set; returns what is wrong, or an empty text.
std::string read_rule_words(const std::vector<std::string> &words, std::size_t first,
                            MapRule &rule);
