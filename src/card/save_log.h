// The S command: the card's whole log buffer, behind one header line, saved
// as "SerLog.txt" in the log folder (the installed programs' own folder, or
// the program's own folder, unless another was chosen). The card steps always run in full; the file
// is replaced whole or left as it was.
#pragma once

#include <string>

namespace q7t {

inline constexpr const char* kLogFileName = "SerLog.txt";
inline constexpr int kLogHeaderLength = 49;  // before the CR LF
inline constexpr int kLogFileSize = kLogHeaderLength + 2 + 8192;

// Where a save writes and how.
struct SaveTarget {
  std::string dir;         // the folder that receives kLogFileName
  bool change_dir = true;  // make `dir` the working directory again first
  bool sync = true;        // flush the file to disk before it replaces the old one
};

// The folder of "SerLog.txt" for S, V and the save command: the one set here,
// else the folder built in for installed programs, else the program's own
// folder (a copy that is not installed runs from anywhere).
void SetLogDir(const std::string& dir);
std::string LogDir();
// The folder built in when the programs were built for installing; empty
// for copies that save beside themselves.
const char* BuiltInLogDir();

// The card steps of a save, mode restore included, and the file's bytes:
// header line, CR LF, the 8192 bytes read out. `mode_value` is the mode
// register as read at the start of the menu pass.
std::string ReadLogImage(int mode_value);

// Saves into the log folder. Draws nothing. False when the file could not
// be written, with why in `*message` as the message line says it.
bool SaveLog(int mode_value, std::string* message);
bool SaveLogTo(int mode_value, const SaveTarget& target, std::string* message);

// The header line (without CR LF) for a counter text and the local time.
std::string LogHeader(const std::string& counter_text, int month, int day, int year, int hour,
                      int minute, int second);

}  // namespace q7t
