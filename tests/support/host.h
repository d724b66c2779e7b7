// Facts about where the tests run.
#pragma once

#include <string>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

// Wine accepts socket calls before WSAStartup, which Windows refuses.
inline bool running_under_wine() {
#ifdef _WIN32
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

// Text as one platform writes it, with Windows' CR LF line ends made LF.
inline std::string with_lf_line_ends(std::string text) {
  std::string::size_type at = 0;
  while ((at = text.find("\r\n", at)) != std::string::npos) {
    text.erase(at, 1);
  }
  return text;
}
