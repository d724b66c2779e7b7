// Windows: the DNS-SD calls of Windows 10 1903 and later, looked up in
// dnsapi.dll at run time, so that older Windows (and Wine, which lacks them)
// run the tap and say that discovery is unavailable. Their callbacks come on
// the system's threads and queue the events. Built, and untested on Windows.
#if defined(_WIN32) && !defined(RING2OSC_NO_DNS_SD)

#include "platform/dns_sd.h"
#include "platform/platform.h" // Winsock 2, before windows.h brings in the old one

#include <windows.h>

#include <windns.h>

#include <map>
#include <mutex>

namespace platform {

namespace {

constexpr DWORD request_pending = 9506; // request_pending: it goes on in the background

std::wstring wide(const std::string &text) {
  std::wstring out(text.size(), L'\0');
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0],
                                    static_cast<int>(out.size()));
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return out;
}

std::string narrow(const wchar_t *text) {
  if (text == nullptr) {
    return "";
  }
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? static_cast<std::size_t>(n) : 1, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

template <typename F> F look_up(HMODULE module, const char *name) {
  // Through a function type that any other may be cast to.
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

} // namespace

struct DnsSd::System {
  decltype(&DnsServiceConstructInstance) construct = nullptr;
  decltype(&DnsServiceFreeInstance) free_instance = nullptr;
  decltype(&DnsServiceRegister) register_service = nullptr;
  decltype(&DnsServiceDeRegister) deregister = nullptr;
  decltype(&DnsServiceBrowse) browse = nullptr;
  decltype(&DnsServiceBrowseCancel) browse_cancel = nullptr;
  decltype(&DnsServiceResolve) resolve = nullptr;
  decltype(&DnsFree) free_records = nullptr;

  struct Advertised {
    System *system;
    std::string name, type;
    int port;
    DNS_SERVICE_REGISTER_REQUEST request{};
  };
  struct Browsed {
    System *system;
    std::string type;
    std::wstring query;
    DNS_SERVICE_BROWSE_REQUEST request{};
    DNS_SERVICE_CANCEL cancel{};
  };
  struct Resolving {
    Browsed *browsed;
    std::wstring name;
    DNS_SERVICE_RESOLVE_REQUEST request{};
    DNS_SERVICE_CANCEL cancel{};
  };
  std::vector<std::unique_ptr<Advertised>> advertised;
  std::vector<std::unique_ptr<Browsed>> browsed;
  std::mutex mutex; // the events and what is being resolved
  std::vector<Event> queued;
  std::map<std::wstring, std::unique_ptr<Resolving>> resolving;

  void tell(Event event) {
    const std::lock_guard<std::mutex> lock(mutex);
    queued.push_back(std::move(event));
  }

  // "NAME._osc._udp.local" as NAME.
  static std::string instance(const std::string &full, const std::string &type) {
    const std::size_t at = full.find("." + type);
    return at == std::string::npos ? full : full.substr(0, at);
  }

  static VOID WINAPI on_registered(DWORD status, PVOID self, PDNS_SERVICE_INSTANCE done) {
    auto &a = *static_cast<Advertised *>(self);
    a.system->tell({status == ERROR_SUCCESS ? Event::Kind::advertised : Event::Kind::failed, a.type,
                    a.name, "", a.port, "error " + std::to_string(status)});
    if (done != nullptr) {
      a.system->free_instance(done);
    }
  }

  static VOID WINAPI on_resolved(DWORD status, PVOID self, PDNS_SERVICE_INSTANCE found) {
    auto &r = *static_cast<Resolving *>(self);
    if (status == ERROR_SUCCESS && found != nullptr && found->ip4Address != nullptr) {
      in_addr address{};
      address.s_addr = *found->ip4Address;
      r.browsed->system->tell({Event::Kind::found, r.browsed->type,
                               instance(narrow(found->pszInstanceName), r.browsed->type),
                               inet_ntoa(address), found->wPort, ""});
    }
    if (found != nullptr) {
      r.browsed->system->free_instance(found);
    }
  }

  // The records are the wide kind, whatever PDNS_RECORD names here.
  static VOID WINAPI on_browsed(DWORD status, PVOID self, PDNS_RECORD given) {
    auto &b = *static_cast<Browsed *>(self);
    System &s = *b.system;
    const auto records = reinterpret_cast<PDNS_RECORDW>(given);
    for (PDNS_RECORDW r = records; status == ERROR_SUCCESS && r != nullptr; r = r->pNext) {
      if (r->wType != DNS_TYPE_PTR) {
        continue;
      }
      const std::wstring name = r->Data.PTR.pNameHost;
      if (r->dwTtl == 0) { // a goodbye
        s.tell({Event::Kind::gone, b.type, instance(narrow(name.c_str()), b.type), "", 0, ""});
        continue;
      }
      const std::lock_guard<std::mutex> lock(s.mutex);
      std::unique_ptr<Resolving> &resolving = s.resolving[name];
      if (!resolving) {
        resolving = std::make_unique<Resolving>();
        resolving->browsed = &b;
        resolving->name = name;
        resolving->request.Version = DNS_QUERY_REQUEST_VERSION1;
        resolving->request.QueryName = &resolving->name[0];
        resolving->request.pResolveCompletionCallback = &System::on_resolved;
        resolving->request.pQueryContext = resolving.get();
      }
      s.resolve(&resolving->request, &resolving->cancel);
    }
    if (records != nullptr) {
      s.free_records(records, DnsFreeRecordList);
    }
  }
};

DnsSd::DnsSd() : system_(std::make_unique<System>()) {}

DnsSd::~DnsSd() {
  for (const auto &a : system_->advertised) {
    system_->deregister(&a->request, nullptr);
  }
  for (const auto &b : system_->browsed) {
    system_->browse_cancel(&b->cancel);
  }
}

bool DnsSd::start(std::string &error) {
  const HMODULE dns = LoadLibraryW(L"dnsapi.dll");
  System &s = *system_;
  if (dns != nullptr) {
    s.construct = look_up<decltype(s.construct)>(dns, "DnsServiceConstructInstance");
    s.free_instance = look_up<decltype(s.free_instance)>(dns, "DnsServiceFreeInstance");
    s.register_service = look_up<decltype(s.register_service)>(dns, "DnsServiceRegister");
    s.deregister = look_up<decltype(s.deregister)>(dns, "DnsServiceDeRegister");
    s.browse = look_up<decltype(s.browse)>(dns, "DnsServiceBrowse");
    s.browse_cancel = look_up<decltype(s.browse_cancel)>(dns, "DnsServiceBrowseCancel");
    s.resolve = look_up<decltype(s.resolve)>(dns, "DnsServiceResolve");
    s.free_records = look_up<decltype(s.free_records)>(dns, "DnsFree");
  }
  if (s.construct == nullptr || s.free_instance == nullptr || s.register_service == nullptr ||
      s.deregister == nullptr || s.browse == nullptr || s.browse_cancel == nullptr ||
      s.resolve == nullptr || s.free_records == nullptr) {
    error = "no DNS-SD here: this Windows has no DnsServiceRegister (Windows 10 1903 and later)";
    return false;
  }
  return true;
}

bool DnsSd::advertise(const std::string &name, const std::string &type, int port,
                      const std::string &host, std::string &error) {
  wchar_t computer[256] = {};
  DWORD size = 256;
  GetComputerNameExW(ComputerNameDnsHostname, computer, &size);
  IP4_ADDRESS address = inet_addr(host.c_str());
  const std::wstring service = wide(name + "." + type + ".local");
  const std::wstring machine = std::wstring(computer) + L".local";
  auto a = std::make_unique<System::Advertised>();
  a->system = system_.get();
  a->name = name;
  a->type = type;
  a->port = port;
  a->request.Version = DNS_QUERY_REQUEST_VERSION1;
  a->request.pServiceInstance =
      system_->construct(service.c_str(), machine.c_str(), host == "0.0.0.0" ? nullptr : &address,
                         nullptr, static_cast<WORD>(port), 0, 0, 0, nullptr, nullptr);
  a->request.pRegisterCompletionCallback = &System::on_registered;
  a->request.pQueryContext = a.get();
  const DWORD status = system_->register_service(&a->request, nullptr);
  if (status != request_pending) {
    error = "cannot advertise " + type + ": error " + std::to_string(status);
    return false;
  }
  system_->advertised.push_back(std::move(a));
  return true;
}

bool DnsSd::browse(const std::string &type, std::string &error) {
  auto b = std::make_unique<System::Browsed>();
  b->system = system_.get();
  b->type = type;
  b->query = wide(type + ".local");
  b->request.Version = DNS_QUERY_REQUEST_VERSION1;
  b->request.QueryName = b->query.c_str();
  b->request.pBrowseCallback = &System::on_browsed;
  b->request.pQueryContext = b.get();
  const DNS_STATUS status = system_->browse(&b->request, &b->cancel);
  if (status != request_pending) {
    error = "cannot look for " + type + ": error " + std::to_string(status);
    return false;
  }
  system_->browsed.push_back(std::move(b));
  return true;
}

std::vector<DnsSd::Event> DnsSd::events() {
  const std::lock_guard<std::mutex> lock(system_->mutex);
  std::vector<Event> taken;
  taken.swap(system_->queued);
  return taken;
}

} // namespace platform

#endif
