// A text as a JSON string, for what the tap answers in JSON.
#pragma once

#include <string>

// Quotes and backslashes escaped, control characters as \u00XX; UTF-8
// passes as it is.
std::string json_string(const std::string &text);
