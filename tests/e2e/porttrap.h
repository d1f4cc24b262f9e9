// porttrap, built into the build tree from the copy beside the checkout,
// answers the real-card build's ports in the end-to-end tests.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>

namespace q7t::test {

inline const std::string kPorttrap = Q7T_PORTTRAP;

// Why porttrap cannot serve here; empty when it traces.
inline std::string PorttrapUnavailable() {
  if (kPorttrap.empty()) return "porttrap is not beside the checkout";
  const int status = std::system((kPorttrap + " -- /bin/true >/dev/null 2>&1").c_str());
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
  return "porttrap cannot trace here (ptrace not allowed)";
}

}  // namespace q7t::test
