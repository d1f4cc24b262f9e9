#include "platform/console_kind.h"

#include <fstream>
#include <string>

namespace q7t::os {

bool VgaTextConsole(const std::string& sys_dir) {
  bool listed = false;
  // The kernel numbers its console drivers from vtcon0 without gaps.
  for (int n = 0; n < 16; ++n) {
    const std::string dir = sys_dir + "/class/vtconsole/vtcon" + std::to_string(n) + "/";
    std::ifstream name_file(dir + "name"), bind_file(dir + "bind");
    std::string name, bind;
    if (!std::getline(name_file, name)) break;
    listed = true;
    if (std::getline(bind_file, bind) && bind == "1" && name.find("VGA") != std::string::npos) {
      return true;
    }
  }
  return !listed;
}

}  // namespace q7t::os
