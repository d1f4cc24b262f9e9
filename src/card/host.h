// What the log save needs of the machine it runs on: the program's folder,
// the working directory, a file replaced whole, the local time. Declared
// here, where it is used; platform/ implements it for a POSIX system
// (files_posix.cc, clock_posix.cc), and a program links that in.
#pragma once

#include <string>
#include <string_view>

namespace q7t::os {

// The folder that holds the program's own file: /proc/self/exe cut at its
// last '/'; "/" when nothing remains.
std::string ProgramDir();
bool ChangeDir(const std::string& dir);

// Replaces dir/name whole with `bytes`: writes a temporary file beside it,
// flushes it to disk (unless `sync` is false), renames it into place. No link
// is followed; a link at dir/name is replaced, not written through. On
// failure returns false, says why in `*err` (in words) and leaves any
// previous dir/name as it was.
bool ReplaceFile(const std::string& dir, const std::string& name, std::string_view bytes, bool sync,
                 std::string* err);

struct LocalTime {
  int year = 1970, month = 1, day = 1;  // month 1..12
  int hour = 0, minute = 0, second = 0;
};

LocalTime NowLocal();

}  // namespace q7t::os
