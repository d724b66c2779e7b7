// Arbitrary bytes as a request to the tap's web side, read by Beast with the
// server's limits and judged by its rules: whatever is let through came under
// "localhost" or an address with the tap's port, and a relay client from the
// page's own kind of origin or a named one. The same bytes as a relay
// client's frame must be read within themselves and the limits.
#include "web/request_facts.h"
#include "web/web_rules.h"
#include "web/websocket_frames.h"

#include <boost/asio/buffer.hpp>

#include <cstdlib>
#include <string>

namespace {

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char &c : out) {
    c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return out;
}

bool ends_with(const std::string &text, const std::string &end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const WebRules rules(8080, {"https://editor.p5js.org"});
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  std::string once, twice;
  if (normal_origin(text, once) && (!normal_origin(once, twice) || twice != once)) {
    std::abort(); // a normal origin stays as it is
  }

  ClientFrame frame;
  if (read_client_frame(data, size, 4096, frame) == FrameRead::whole &&
      (frame.header_size + frame.payload_size > size || frame.payload_size > 4096 ||
       (frame.opcode >= ws_close && frame.payload_size > 125))) {
    std::abort(); // a whole frame lies inside what was read, within the limits
  }

  boost::beast::http::request_parser<boost::beast::http::empty_body> parser;
  parser.header_limit(8 * 1024);
  parser.body_limit(0);
  boost::beast::error_code error;
  parser.put(boost::asio::buffer(data, size), error);
  if (error || !parser.is_header_done()) {
    return 0;
  }
  const WebRequest request = request_facts(parser.get());
  const WebAnswer answer = rules.judge(request);
  if (answer == WebAnswer::forbidden) {
    return 0;
  }
  const std::string host = lowered(request.host);
  if (!ends_with(host, ":8080")) {
    std::abort();
  }
  const std::string name = host.substr(0, host.size() - 5);
  const bool address = name.find_first_not_of("0123456789.") == std::string::npos ||
                       (!name.empty() && name.front() == '[' && name.back() == ']' &&
                        name.find_first_not_of("[]0123456789abcdef:.") == std::string::npos);
  if (name != "localhost" && !address) {
    std::abort(); // a name that DNS could point here
  }
  const std::string origin = lowered(request.origin);
  if (answer == WebAnswer::relay && request.has_origin && origin != "https://editor.p5js.org" &&
      !(origin.rfind("http://", 0) == 0 && ends_with(origin, ":8080"))) {
    std::abort();
  }
  return 0;
}
