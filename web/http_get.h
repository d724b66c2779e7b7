// One HTTP GET from the tap, such as an OSCQuery server's ?HOST_INFO: the
// body of a 200 answer, read within a time limit and a size limit.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

// False with why in `error`: no answer in time, another status, too large.
bool http_get(const std::string &host, int port, const std::string &target, std::string &body,
              std::string &error, std::chrono::milliseconds limit = std::chrono::seconds(2));

constexpr std::size_t http_get_max_body = std::size_t{64} * 1024;
