// The switches of an unattended run (/quiet, /passive, /force, /log PATH),
// taken out of the argument list before the mode is chosen, so that the
// remaining arguments mean what they always meant.
#pragma once

#include <string>
#include <vector>

struct RunSwitches {
  bool quiet = false;    // no window and no box at all
  bool passive = false;  // the window, but no box; it closes by itself
  bool force = false;    // apply over the same or a newer installed level
  std::wstring log_path;  // empty: no log

  // The run answers its questions itself and reports through its exit code.
  bool unattended() const { return quiet || passive; }
};

// Removes every recognised switch from `arguments`, except the first
// argument (the program's name), and returns what they asked for. A switch
// is a whole argument, compared without regard to the case of its letters.
// The argument after /log is its path unless it is a switch itself; a /log
// without a path asks for no log. A later /log replaces an earlier path.
RunSwitches take_run_switches(std::vector<std::wstring>* arguments);
