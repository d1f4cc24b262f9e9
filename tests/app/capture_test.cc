// The capture loop in this process, on the virtual card: its file reaches
// the disk while it runs, not only at the end, and always before the record
// that counts its bytes.
#include "app/capture_command.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "card/card.h"
#include "platform/capture_output.h"
#include "platform/capture_state.h"
#include "platform/files.h"
#include "sim/virtual_card.h"
#include "support/pty_harness.h"

namespace q7t {
namespace {

std::vector<std::pair<std::int64_t, ino_t>> syncs;  // when, and which file

int RecordSync(int fd) {
  struct stat st {};
  ::fstat(fd, &st);
  syncs.emplace_back(os::MonotonicMs(), st.st_ino);
  return 0;
}

TEST(CaptureLoop, SyncsWhileItRunsTheDataBeforeItsRecord) {
  test::ScopedTempDir dir;
  VirtualCard card;
  SetPortBus(&card);
  CaptureOptions options;
  options.file = dir.File("line.bin");
  options.seconds = 2;
  syncs.clear();
  const os::SyncCall before = os::SetSyncCall(RecordSync);
  const std::int64_t start = os::MonotonicMs();
  EXPECT_EQ(RunCapture(options), 0);
  os::SetSyncCall(before);
  SetPortBus(nullptr);

  struct stat data {
  }, state{};
  ASSERT_EQ(::stat(options.file.c_str(), &data), 0);
  ASSERT_EQ(::stat(os::CaptureStatePath(options.file).c_str(), &state), 0);
  ASSERT_FALSE(syncs.empty());
  EXPECT_LT(syncs.front().first - start, 1000) << "no sync until the end";
  bool data_synced = false;
  for (const auto& [when, ino] : syncs) {
    if (ino == data.st_ino) data_synced = true;
    if (ino == state.st_ino) {
      EXPECT_TRUE(std::exchange(data_synced, false)) << "the record first, at " << when - start;
    }
  }
}

}  // namespace
}  // namespace q7t
