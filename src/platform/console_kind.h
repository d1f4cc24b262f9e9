// Which kind of Linux console the program draws on: VGA text mode or a
// framebuffer. On VGA text mode the attribute bit that gives a bright
// background on a framebuffer console makes the cell blink instead.
#pragma once

#include <string>

namespace q7t::os {

// True when the Linux console's bound driver, as listed under
// `sys_dir`/class/vtconsole/vtcon*/ (its "name" and "bind" files), is the
// VGA text console ("VGA" in its name); also true when no console driver is
// listed there at all, since a bright background that blinks cannot then be
// ruled out.
bool VgaTextConsole(const std::string& sys_dir = "/sys");

}  // namespace q7t::os
