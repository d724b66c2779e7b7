#include "tap/outputs.h"

#include "tap/message_splitter.h"

bool Outputs::add_socket(Output::Kind kind, const std::string &option, const Endpoint &to,
                         const std::string &name, std::string &error, bool &usage) {
  auto output = std::make_unique<Output>();
  output->kind = kind;
  output->name = name;
  output->socket = std::make_unique<Destination>();
  usage = true;
  if (!output->socket->open(to.host, to.port, error, multicast_ttl)) {
    error = option + ": " + error;
    return false;
  }
  if (loops(output->socket->address())) {
    error = option + " " + to.text() + " is the address the tap listens on: it would loop";
    return false;
  }
  outputs.push_back(std::move(output));
  return true;
}

bool Outputs::add_forward(const Endpoint &to, std::string &error) {
  bool usage = false;
  return add_socket(Output::Kind::forward, "--forward", to, to.text(), error, usage);
}

bool Outputs::add_messages(const Endpoint &to, std::string &error) {
  bool usage = false;
  return add_socket(Output::Kind::messages, "--messages", to, "messages " + to.text(), error,
                    usage);
}

bool Outputs::add_map(const MapFile &map, const std::string &midi_port, std::string &error,
                      bool &usage) {
  if (!map.midi) {
    if (!add_socket(Output::Kind::map, "--map " + map.name, map.to,
                    map.name + " -> " + map.to.text(), error, usage)) {
      return false;
    }
    outputs.back()->map = std::make_unique<MapEngine>(map);
    return true;
  }
  usage = false;
  auto output = std::make_unique<Output>();
  output->kind = Output::Kind::map;
  if (!open_midi(*output, map, midi_port.empty() ? map.midi_port : midi_port, error)) {
    return false;
  }
  if (midi_system_.empty()) {
    midi_system_ = output->midi->system();
  }
  output->map = std::make_unique<MapEngine>(map);
  outputs.push_back(std::move(output));
  return true;
}

bool Outputs::open_midi(Output &output, const MapFile &map, const std::string &port,
                        std::string &error) {
  auto midi = std::make_unique<midi::MidiOutput>();
  if (!midi->start(error) ||
      !(port.empty() ? midi->open_own("ring2osc", error) : midi->open(port, error))) {
    error = map.name + ": " + error;
    return false;
  }
  output.name = map.name + " -> MIDI " + midi->port_name();
  output.midi = std::move(midi);
  output.midi_port = port;
  return true;
}

bool Outputs::replace_map(std::size_t map, const MapFile &file, const std::string &midi_port,
                          std::string &error) {
  Output *found = nullptr;
  for (const std::unique_ptr<Output> &output : outputs) {
    if (output->map && map-- == 0) {
      found = output.get();
      break;
    }
  }
  if (found == nullptr || file.midi != (found->midi != nullptr)) {
    error = file.name + ": a map cannot change between OSC and MIDI while the tap runs";
    return false;
  }
  Output &output = *found;
  if (output.midi) {
    output.midi->release_notes();
    const std::string port = midi_port.empty() ? file.midi_port : midi_port;
    if (port != output.midi_port && !open_midi(output, file, port, error)) {
      return false;
    }
  } else {
    // The socket moves when the map's own port changed while it is in use,
    // or when the map no longer looks for the service it found (the next
    // follow_services() points it at what the new pattern finds).
    const MapFile &before = output.map->map();
    const bool to_changed = file.to.host != before.to.host || file.to.port != before.to.port;
    const bool leaves_service = !output.service.empty() && file.service != before.service;
    if ((to_changed && output.service.empty()) || leaves_service) {
      error.clear();
      auto socket = std::make_unique<Destination>();
      if (!socket->open(file.to.host, file.to.port, error, multicast_ttl) ||
          loops(socket->address())) {
        error = file.name + ": " + (error.empty() ? file.to.text() + " would loop" : error);
        return false;
      }
      output.socket = std::move(socket);
      output.name = file.name + " -> " + file.to.text();
      output.service.clear();
      output.service_at = {"", 0};
    }
  }
  output.map = std::make_unique<MapEngine>(file);
  ++output.replaced;
  return true;
}

void Outputs::follow_services(const Discovery &discovery) {
  for (const std::unique_ptr<Output> &output : outputs) {
    if (!output->map || output->map->map().service.empty()) {
      continue;
    }
    const MapFile &file = output->map->map();
    const Discovery::Found found = discovery.found(file.service);
    // The same instance may come back on another port (VRChat started again).
    if (found.name == output->service && found.at.host == output->service_at.host &&
        found.at.port == output->service_at.port) {
      continue;
    }
    const Endpoint to = found.found ? found.at : file.to;
    std::string error;
    if (!output->socket->open(to.host, to.port, error, multicast_ttl)) {
      tell(file.name + ": " + error);
      continue;
    }
    output->service = found.name;
    output->service_at = found.at;
    output->name = file.name + " -> " + (found.found ? found.name + " at " : "") + to.text();
    tell(found.found ? file.name + ": sending to " + found.name + " at " + to.text()
                     : file.name + ": no " + file.service + " now: sending to " + to.text());
  }
}

void Outputs::forward(const unsigned char *bytes, std::uint32_t size, std::int64_t now_us) {
  for (const std::unique_ptr<Output> &output : outputs) {
    Destination *socket = output->socket.get();
    if (output->kind == Output::Kind::forward) {
      socket->forward(bytes, size, now_us);
    } else if (output->kind == Output::Kind::messages) {
      split_messages(bytes, size,
                     [socket, now_us](const unsigned char *message, std::uint32_t length) {
                       socket->forward(message, length, now_us);
                     });
    }
  }
}

void Outputs::send_midi(Output &output, const MidiValue &v) {
  const auto send = [&output](const midi::Message &message) {
    ++(output.midi->send(message) ? output.midi_sent : output.midi_failed);
  };
  switch (v.kind) {
  case MidiKind::control:
    send(midi::control(v.channel, v.number, v.value));
    break;
  case MidiKind::control14:
    send(midi::control14_high(v.channel, v.number, v.value));
    send(midi::control14_low(v.channel, v.number, v.value));
    break;
  case MidiKind::note:
    send(v.value != 0 ? midi::note_on(v.channel, v.number, static_cast<int>(v.value))
                      : midi::note_off(v.channel, v.number));
    break;
  case MidiKind::bend:
    send(midi::pitch_bend(v.channel, v.value));
    break;
  case MidiKind::program:
    send(midi::program_change(v.channel, v.value));
    break;
  case MidiKind::none:
    break;
  }
}

MapOut Outputs::out_of(Output &output, std::int64_t now_us) {
  return {[&output, now_us](const unsigned char *bytes, std::uint32_t size) {
            output.socket->forward(bytes, size, now_us);
          },
          [this, &output](const MidiValue &value) { send_midi(output, value); }};
}

// A MIDI port that went away, or came back, is said once.
void Outputs::check_midi(Output &output, std::int64_t now_us) {
  const midi::MidiOutput::Change change = output.midi->check(now_us);
  if (change != midi::MidiOutput::Change::none) {
    tell("MIDI port " + output.midi->port_name() +
         (change == midi::MidiOutput::Change::gone
              ? " is gone: what it misses counts as failed until it is back"
              : " is back"));
  }
}

void Outputs::feed(const BridgeEvent *event, std::int64_t now_us) {
  std::uint32_t bits[3] = {};
  for (int i = 0; event != nullptr && i < event->address_count; ++i) {
    bits[i] = argument_bits(*event, i);
  }
  for (const std::unique_ptr<Output> &output : outputs) {
    if (!output->map) {
      continue;
    }
    if (output->midi) {
      check_midi(*output, now_us);
    }
    const MapOut out = out_of(*output, now_us);
    if (event != nullptr) {
      output->map->take(event->first_address, event->address_count, bits, now_us, out);
    } else {
      output->map->send_due(now_us, out);
    }
  }
}

void Outputs::tick(std::int64_t now_us) {
  for (const std::unique_ptr<Output> &output : outputs) {
    if (output->socket) {
      output->socket->read_reports(now_us);
    }
    if (output->midi) {
      check_midi(*output, now_us);
    }
    if (output->map) {
      output->map->send_due(now_us, out_of(*output, now_us));
    }
  }
}

void Outputs::finish(std::int64_t now_us) {
  for (const std::unique_ptr<Output> &output : outputs) {
    if (output->socket) {
      output->socket->read_reports(now_us); // the last datagrams' reports too
    }
    if (output->midi) {
      output->midi->release_notes();
    }
  }
}

void Outputs::counts(std::vector<DestinationStats> &out) const {
  out.resize(outputs.size());
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const Output &o = *outputs[i];
    DestinationStats &d = out[i];
    if (d.name != o.name) {
      d.name = o.name; // the same nearly always: no copy per datagram
    }
    d.map = o.map != nullptr;
    d.midi = o.midi != nullptr;
    d.forwarded = o.midi ? o.midi_sent : o.socket->forwarded();
    d.failed = o.midi ? o.midi_failed : o.socket->failed();
    d.not_finite = o.map ? o.map->not_finite() : 0;
    d.port_there = !o.midi || o.midi->port_there();
    d.replaced = o.replaced;
    if (o.map) {
      d.centres = o.map->centres();
    }
  }
}
