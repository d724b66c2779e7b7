#include "web/websocket_frames.h"

#include <cstring>

FrameRead read_client_frame(const unsigned char *bytes, std::size_t size, std::size_t max_payload,
                            ClientFrame &frame) {
  if (size < 2) {
    return FrameRead::incomplete;
  }
  frame.fin = (bytes[0] & 0x80U) != 0;
  frame.opcode = bytes[0] & 0x0F;
  const bool control = frame.opcode >= ws_close;
  const bool known = frame.opcode <= ws_binary || (control && frame.opcode <= ws_pong);
  if ((bytes[0] & 0x70U) != 0 || !known || (bytes[1] & 0x80U) == 0) {
    return FrameRead::invalid; // a client must mask every frame
  }
  std::uint64_t length = bytes[1] & 0x7FU;
  std::size_t at = 2;
  const std::size_t extended = length == 126 ? 2 : length == 127 ? 8 : 0;
  if (size < at + extended) {
    return FrameRead::incomplete;
  }
  if (extended > 0) {
    length = 0;
    for (std::size_t i = 0; i < extended; ++i) {
      length = (length << 8U) | bytes[at + i];
    }
    at += extended;
  }
  if (control && (length > 125 || !frame.fin)) {
    return FrameRead::invalid;
  }
  if (length > max_payload) {
    return FrameRead::too_big;
  }
  if (size < at + 4) {
    return FrameRead::incomplete;
  }
  std::memcpy(frame.mask, bytes + at, 4);
  frame.header_size = at + 4;
  frame.payload_size = static_cast<std::size_t>(length);
  return size - frame.header_size < frame.payload_size ? FrameRead::incomplete : FrameRead::whole;
}

void append_frame_header(std::vector<unsigned char> &out, int opcode, std::size_t size) {
  out.push_back(static_cast<unsigned char>(0x80U | static_cast<unsigned>(opcode)));
  if (size < 126) {
    out.push_back(static_cast<unsigned char>(size));
    return;
  }
  const int bytes = size <= 0xFFFF ? 2 : 8;
  out.push_back(bytes == 2 ? 126 : 127);
  for (int i = bytes - 1; i >= 0; --i) {
    out.push_back(static_cast<unsigned char>(static_cast<std::uint64_t>(size) >> (8U * i)));
  }
}
