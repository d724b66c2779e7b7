// WebSocket frames after the handshake, as the relay reads and writes them
// itself: so that it can send whatever is queued for a client, many
// messages, in one write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum WebSocketOpcode : int {
  ws_continuation = 0x0,
  ws_text = 0x1,
  ws_binary = 0x2,
  ws_close = 0x8,
  ws_ping = 0x9,
  ws_pong = 0xA,
};

struct ClientFrame {
  bool fin = false;
  int opcode = 0;
  std::size_t header_size = 0;
  std::size_t payload_size = 0;
  unsigned char mask[4] = {};
};

enum class FrameRead {
  incomplete, // more bytes are needed
  whole,      // header and payload are there
  too_big,    // a payload over the limit
  invalid,    // unmasked, reserved bits or opcodes, a long or fragmented control frame
};

// Reads the client's frame at the start of `bytes`; a payload over
// `max_payload` is refused before it arrives.
FrameRead read_client_frame(const unsigned char *bytes, std::size_t size, std::size_t max_payload,
                            ClientFrame &frame);

// Appends the header of a server's frame (unmasked, final) for a payload of
// `size` bytes.
void append_frame_header(std::vector<unsigned char> &out, int opcode, std::size_t size);
