// Files and folders as the system needs them: the program's own folder, the
// working directory, a log replaced whole, regular files found by name. The
// parts the card and the viewer use are declared beside them (card/host.h,
// viewer/host.h); this file implements those and adds what the programs use.
#pragma once

#include <string>
#include <string_view>

#include "card/host.h"
#include "viewer/host.h"

namespace q7t::os {

// True when `path` is a folder (a link to one counts).
bool IsDirectory(const std::string& path);
// What `path` names, following links.
enum class PathKind { kMissing, kRegular, kDirectory, kOther };
PathKind KindOf(const std::string& path);
// `path` made absolute, links resolved; empty when it does not exist.
std::string AbsolutePath(const std::string& path);

// All of `bytes` to standard output; false and the reason in words in `*err`.
bool WriteStdout(std::string_view bytes, std::string* err);

// The call that flushes a file to disk (fsync by default, which null puts
// back): tests put their own in to see the flushes or make them fail.
// Returns the call in force before.
using SyncCall = int (*)(int fd);
SyncCall SetSyncCall(SyncCall call);
// Flushes `fd` to disk through the call in force: 0, or -1 with errno.
int SyncFile(int fd);

}  // namespace q7t::os
