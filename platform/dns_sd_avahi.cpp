// Linux: Avahi's daemon through its client library, on a thread of
// Avahi's own (its threaded poll), whose callbacks queue the events.
#if !defined(_WIN32) && !defined(RING2OSC_NO_DNS_SD)

#include "platform/dns_sd.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>

#include <arpa/inet.h>
#include <cstring>
#include <ifaddrs.h>
#include <map>
#include <mutex>
#include <net/if.h>

namespace platform {

namespace {

// The interface that holds the IPv4 address `host`; every one for 0.0.0.0.
AvahiIfIndex interface_of(const std::string &host) {
  in_addr wanted{};
  if (host == "0.0.0.0" || inet_pton(AF_INET, host.c_str(), &wanted) != 1) {
    return AVAHI_IF_UNSPEC;
  }
  ifaddrs *all = nullptr;
  if (getifaddrs(&all) != 0) {
    return AVAHI_IF_UNSPEC;
  }
  AvahiIfIndex found = AVAHI_IF_UNSPEC;
  for (const ifaddrs *i = all; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr != nullptr && i->ifa_addr->sa_family == AF_INET &&
        reinterpret_cast<const sockaddr_in *>(i->ifa_addr)->sin_addr.s_addr == wanted.s_addr) {
      found = static_cast<AvahiIfIndex>(if_nametoindex(i->ifa_name));
      break;
    }
  }
  freeifaddrs(all);
  return found;
}

} // namespace

struct DnsSd::System {
  struct Advertised {
    System *system;
    AvahiEntryGroup *group = nullptr;
    std::string name;
    std::string type;
    int port;
    AvahiIfIndex interface;
  };
  // One instance as it is seen on one interface.
  struct Seen {
    std::string address;
    int port = 0;
    AvahiServiceResolver *resolver = nullptr;
  };
  struct Browsed {
    System *system;
    std::string type;
    AvahiServiceBrowser *browser = nullptr;
    std::map<std::pair<std::string, AvahiIfIndex>, Seen> seen; // by name and interface
    std::map<std::string, std::pair<std::string, int>> told;   // by name: what was said found

    // What the instance `name` is now, over every interface it is seen on:
    // the first found; said only when that changed.
    void report(const std::string &name);
  };

  AvahiThreadedPoll *poll = nullptr;
  AvahiClient *client = nullptr;
  std::vector<std::unique_ptr<Advertised>> advertised;
  std::vector<std::unique_ptr<Browsed>> browsed;
  std::mutex mutex; // the events, between Avahi's thread and the caller's
  std::vector<Event> queued;

  void tell(Event event) {
    const std::lock_guard<std::mutex> lock(mutex);
    queued.push_back(std::move(event));
  }

  // On Avahi's thread, its lock held.
  bool add(Advertised &a) {
    if (a.group == nullptr) {
      a.group = avahi_entry_group_new(client, &System::on_group, &a);
    }
    return a.group != nullptr &&
           avahi_entry_group_add_service(a.group, a.interface, AVAHI_PROTO_INET,
                                         AvahiPublishFlags{}, a.name.c_str(), a.type.c_str(),
                                         nullptr, nullptr, static_cast<std::uint16_t>(a.port),
                                         nullptr) == 0 &&
           avahi_entry_group_commit(a.group) == 0;
  }

  static void on_group(AvahiEntryGroup *group, AvahiEntryGroupState state, void *self) {
    auto &a = *static_cast<Advertised *>(self);
    a.group = group;
    if (state == AVAHI_ENTRY_GROUP_ESTABLISHED) {
      a.system->tell({Event::Kind::advertised, a.type, a.name, "", a.port, ""});
    } else if (state == AVAHI_ENTRY_GROUP_COLLISION) {
      // Another holds the name: the next one Avahi proposes ("NAME #2").
      char *other = avahi_alternative_service_name(a.name.c_str());
      a.name = other;
      avahi_free(other);
      avahi_entry_group_reset(group);
      a.system->add(a);
    } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
      a.system->tell({Event::Kind::failed, a.type, a.name, "", a.port,
                      avahi_strerror(avahi_client_errno(a.system->client))});
    }
  }

  static void on_resolved(AvahiServiceResolver *resolver, AvahiIfIndex interface,
                          AvahiProtocol /*protocol*/, AvahiResolverEvent event, const char *name,
                          const char * /*type*/, const char * /*domain*/, const char * /*host*/,
                          const AvahiAddress *address, std::uint16_t port,
                          AvahiStringList * /*text*/, AvahiLookupResultFlags /*flags*/,
                          void *self) {
    auto &b = *static_cast<Browsed *>(self);
    const auto at = b.seen.find({name, interface});
    if (event != AVAHI_RESOLVER_FOUND || at == b.seen.end() || at->second.resolver != resolver) {
      return;
    }
    char text[AVAHI_ADDRESS_STR_MAX];
    avahi_address_snprint(text, sizeof text, address);
    at->second.address = text;
    at->second.port = port;
    b.report(name);
  }

  static void on_browsed(AvahiServiceBrowser * /*browser*/, AvahiIfIndex interface,
                         AvahiProtocol protocol, AvahiBrowserEvent event, const char *name,
                         const char *type, const char *domain, AvahiLookupResultFlags /*flags*/,
                         void *self) {
    auto &b = *static_cast<Browsed *>(self);
    if (event == AVAHI_BROWSER_NEW) {
      Seen &seen = b.seen[{name, interface}];
      if (seen.resolver == nullptr) {
        // Kept: it says again when the instance moves to another port.
        seen.resolver = avahi_service_resolver_new(b.system->client, interface, protocol, name,
                                                   type, domain, AVAHI_PROTO_INET,
                                                   AvahiLookupFlags{}, &System::on_resolved, &b);
      }
    } else if (event == AVAHI_BROWSER_REMOVE) {
      const auto at = b.seen.find({name, interface});
      if (at != b.seen.end()) {
        if (at->second.resolver != nullptr) {
          avahi_service_resolver_free(at->second.resolver);
        }
        b.seen.erase(at);
      }
      b.report(name);
    }
  }
};

void DnsSd::System::Browsed::report(const std::string &name) {
  Browsed &b = *this;
  std::pair<std::string, int> now;
  for (const auto &[key, seen] : b.seen) {
    if (key.first == name && seen.port != 0) {
      now = {seen.address, seen.port};
      break;
    }
  }
  const auto told = b.told.find(name);
  const bool was = told != b.told.end();
  if (now.second == 0 ? !was : was && told->second == now) {
    return;
  }
  using Kind = Event::Kind;
  if (now.second == 0) {
    b.told.erase(told);
    b.system->tell({Kind::gone, b.type, name, "", 0, ""});
  } else {
    b.told[name] = now;
    b.system->tell({Kind::found, b.type, name, now.first, now.second, ""});
  }
}

DnsSd::DnsSd() : system_(std::make_unique<System>()) {}

DnsSd::~DnsSd() {
  if (system_->poll != nullptr) {
    avahi_threaded_poll_stop(system_->poll);
  }
  // Freeing the client withdraws every advertisement and ends every browser.
  if (system_->client != nullptr) {
    avahi_client_free(system_->client);
  }
  if (system_->poll != nullptr) {
    avahi_threaded_poll_free(system_->poll);
  }
}

bool DnsSd::start(std::string &error) {
  system_->poll = avahi_threaded_poll_new();
  int failure = 0;
  if (system_->poll != nullptr) {
    system_->client = avahi_client_new(avahi_threaded_poll_get(system_->poll), AvahiClientFlags{},
                                       nullptr, nullptr, &failure);
  }
  if (system_->client == nullptr) {
    error = std::string("no DNS-SD here: Avahi's daemon cannot be reached (") +
            avahi_strerror(failure) + ")";
    return false;
  }
  return avahi_threaded_poll_start(system_->poll) == 0;
}

bool DnsSd::advertise(const std::string &name, const std::string &type, int port,
                      const std::string &host, std::string &error) {
  auto a = std::make_unique<System::Advertised>(
      System::Advertised{system_.get(), nullptr, name, type, port, interface_of(host)});
  avahi_threaded_poll_lock(system_->poll);
  const bool added = system_->add(*a);
  if (!added) {
    error = std::string("cannot advertise ") + type + ": " +
            avahi_strerror(avahi_client_errno(system_->client));
  }
  system_->advertised.push_back(std::move(a));
  avahi_threaded_poll_unlock(system_->poll);
  return added;
}

bool DnsSd::browse(const std::string &type, std::string &error) {
  auto b = std::make_unique<System::Browsed>();
  b->system = system_.get();
  b->type = type;
  avahi_threaded_poll_lock(system_->poll);
  b->browser =
      avahi_service_browser_new(system_->client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, type.c_str(),
                                nullptr, AvahiLookupFlags{}, &System::on_browsed, b.get());
  const bool browsing = b->browser != nullptr;
  if (!browsing) {
    error = "cannot look for " + type + ": " + avahi_strerror(avahi_client_errno(system_->client));
  }
  system_->browsed.push_back(std::move(b));
  avahi_threaded_poll_unlock(system_->poll);
  return browsing;
}

std::vector<DnsSd::Event> DnsSd::events() {
  const std::lock_guard<std::mutex> lock(system_->mutex);
  std::vector<Event> taken;
  taken.swap(system_->queued);
  return taken;
}

} // namespace platform

#endif
