#include "support/fake_terminal.h"

namespace q7t::test {

bool FakeTerminal::ReadAvailable(std::string& out) {
  if (!input_.empty()) {
    out.append(input_.front().bytes);
    now_ms_ += input_.front().pause_ms;
    input_.pop_front();
  }
  return !(ended_ && input_.empty());
}

void FakeTerminal::WaitInput(int timeout_ms) {
  if (!input_.empty() || ended_) return;
  if (timeout_ms < 0) throw NoMoreInput{};
  now_ms_ += timeout_ms;
}

}  // namespace q7t::test
