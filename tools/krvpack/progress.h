// A progress bar on stderr, drawn only when stderr is a terminal. Steps may
// come from several threads.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

struct Progress {
  bool shown = false;
  std::string label;
  size_t done = 0;
  size_t total = 0;
  std::mutex lock;
};

void progress_start(Progress* progress, const std::string& label, size_t total);
void progress_step(Progress* progress);
void progress_end(Progress* progress);
