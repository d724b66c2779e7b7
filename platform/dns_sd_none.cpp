// A build without DNS-SD: the tap says that discovery is unavailable.
#ifdef RING2OSC_NO_DNS_SD

#include "platform/dns_sd.h"

namespace platform {

struct DnsSd::System {};

DnsSd::DnsSd() = default;
DnsSd::~DnsSd() = default;

bool DnsSd::start(std::string &error) {
  error = "this build of the tap has no DNS-SD";
  return false;
}
bool DnsSd::advertise(const std::string & /*name*/, const std::string & /*type*/, int /*port*/,
                      const std::string & /*host*/, std::string &error) {
  error = "this build of the tap has no DNS-SD";
  return false;
}
bool DnsSd::browse(const std::string & /*type*/, std::string &error) {
  error = "this build of the tap has no DNS-SD";
  return false;
}
std::vector<DnsSd::Event> DnsSd::events() { return {}; }

} // namespace platform

#endif
