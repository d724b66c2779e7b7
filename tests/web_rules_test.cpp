// Who the web side answers and how it reads a client's frames, in process:
// every Host and Origin a hostile page could try, and every way a frame can
// be cut short, too big or not allowed. (The server around them: web_test.py.)
#include "web/web_rules.h"
#include "web/websocket_frames.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(WebRules, OnlyLocalHostsAndThePagesOwnOrNamedOrigins) {
  const WebRules rules(8080, {"https://editor.p5js.org"});
  const struct {
    const char *method, *target, *host, *origin; // origin nullptr: none
    bool upgrade;
    WebAnswer answer;
  } rows[] = {
      {"GET", "/", "localhost:8080", nullptr, false, WebAnswer::file},
      {"GET", "/x?y", "127.0.0.1:8080", nullptr, false, WebAnswer::file},
      {"GET", "/", "[::1]:8080", nullptr, false, WebAnswer::file},
      {"GET", "/", "[fd00::a:1]:8080", nullptr, false, WebAnswer::file},
      {"GET", "/", "[0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0]:8080", nullptr, false,
       WebAnswer::forbidden}, // longer than any IPv6 address
      {"GET", "/", "evil.example:8080", nullptr, false, WebAnswer::forbidden},
      {"GET", "/", "127.0.0.1.evil.example:8080", nullptr, false, WebAnswer::forbidden},
      {"GET", "/", "127.0.0.1:80", nullptr, false, WebAnswer::forbidden},
      {"GET", "/", "localhost", nullptr, false, WebAnswer::forbidden},
      {"GET", "/", "", nullptr, false, WebAnswer::forbidden},
      {"POST", "/", "localhost:8080", nullptr, false, WebAnswer::method_not_allowed},
      {"GET", "/osc", "localhost:8080", nullptr, false, WebAnswer::upgrade_required},
      {"GET", "/osc?x=1", "localhost:8080", nullptr, true, WebAnswer::relay},
      {"GET", "/osc", "localhost:8080", "http://localhost:8080", true, WebAnswer::relay},
      {"GET", "/osc", "127.0.0.1:8080", "http://127.0.0.1:8080", true, WebAnswer::relay},
      {"GET", "/osc", "192.168.1.20:8080", "http://192.168.1.20:8080", true, WebAnswer::relay},
      {"GET", "/osc", "localhost:8080", "https://editor.p5js.org", true, WebAnswer::relay},
      {"GET", "/osc", "localhost:8080", "https://editor.p5js.org.evil.example", true,
       WebAnswer::forbidden},
      {"GET", "/osc", "localhost:8080", "http://evil.example", true, WebAnswer::forbidden},
      {"GET", "/osc", "localhost:8080", "http://localhost:8081", true, WebAnswer::forbidden},
      {"GET", "/osc", "localhost:8080", "null", true, WebAnswer::forbidden},
      {"GET", "/osc", "localhost:8080", "", true, WebAnswer::forbidden},
      {"GET", "/osc", "attacker.example:8080", "http://localhost:8080", true, WebAnswer::forbidden},
  };
  for (const auto &row : rows) {
    WebRequest request;
    request.method = row.method;
    request.target = row.target;
    request.host = row.host;
    request.has_origin = row.origin != nullptr;
    request.origin = row.origin != nullptr ? row.origin : "";
    request.upgrade = row.upgrade;
    EXPECT_EQ(rules.judge(request), row.answer)
        << row.method << " " << row.target << " " << row.host << " "
        << (row.origin ? row.origin : "");
  }
}

TEST(WebRules, AnOriginIsASchemeAndAHostInLowerCaseOrNothing) {
  const std::pair<const char *, const char *> rows[] = {
      {"HTTPS://Editor.P5js.org/", "https://editor.p5js.org"},
      {"chrome-extension.v2+x://Id:1", "chrome-extension.v2+x://id:1"},
      {"1http://x", nullptr},
      {"http://a/b", nullptr},
      {"http://a@b", nullptr},
      {"://x", nullptr},
      {"null", nullptr},
      {"http://", nullptr},
  };
  for (const auto &[text, normal] : rows) {
    std::string out;
    EXPECT_EQ(normal_origin(text, out), normal != nullptr) << text;
    EXPECT_EQ(out, normal != nullptr ? normal : "") << text;
  }
}

TEST(WebSocketFrames, AClientsFrameIsWholeCutShortTooBigOrNotAllowed) {
  const std::vector<unsigned char> mask = {1, 2, 3, 4};
  const auto frame = [&](std::vector<unsigned char> head, std::size_t payload) {
    head.insert(head.end(), mask.begin(), mask.end());
    head.resize(head.size() + payload);
    return head;
  };
  const struct {
    std::vector<unsigned char> bytes;
    FrameRead read;
    std::size_t header, payload;
  } rows[] = {
      {frame({0x82, 0x83}, 3), FrameRead::whole, 6, 3},
      {frame({0x89, 0xFD}, 125), FrameRead::whole, 6, 125},
      {frame({0x82, 0xFE, 0x10, 0x00}, 4096), FrameRead::whole, 8, 4096},
      {frame({0x82, 0x83}, 2), FrameRead::incomplete, 0, 0},
      {{0x82}, FrameRead::incomplete, 0, 0},
      {frame({0x82, 0xFE, 0x10, 0x00}, 0), FrameRead::incomplete, 0, 0},
      {{0x82, 0xFE, 0x10, 0x01}, FrameRead::too_big, 0, 0},
      {{0x82, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0}, FrameRead::too_big, 0, 0},
      {{0x82, 0x03, 0, 0, 0}, FrameRead::invalid, 0, 0}, // not masked
      {frame({0x89, 0xFE, 0x00, 0x7E}, 126), FrameRead::invalid, 0, 0},
      {frame({0x09, 0x80}, 0), FrameRead::invalid, 0, 0}, // a fragmented ping
      {frame({0xC2, 0x80}, 0), FrameRead::invalid, 0, 0}, // a reserved bit
      {frame({0x83, 0x80}, 0), FrameRead::invalid, 0, 0}, // a reserved opcode
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    ClientFrame read;
    EXPECT_EQ(read_client_frame(rows[i].bytes.data(), rows[i].bytes.size(), 4096, read),
              rows[i].read)
        << "row " << i;
    if (rows[i].read == FrameRead::whole) {
      EXPECT_EQ(read.header_size, rows[i].header) << "row " << i;
      EXPECT_EQ(read.payload_size, rows[i].payload) << "row " << i;
      EXPECT_EQ(read.mask[3], 4);
    }
  }
}

} // namespace
