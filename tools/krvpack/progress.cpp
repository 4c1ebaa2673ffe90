#include "console.h"
#include "progress.h"

#include <cstdio>

#include "platform.h"

namespace {

constexpr size_t kBarWidth = 30;

void draw(const Progress* progress) {
  size_t filled = progress->total == 0 ? kBarWidth : progress->done * kBarWidth / progress->total;
  std::string bar(filled, '#');
  bar.append(kBarWidth - filled, '.');
  printf_err("\rkrvpack: %s [%s] %zu/%zu", progress->label.c_str(), bar.c_str(),
          progress->done, progress->total);
  fflush(stderr);
}

}  // namespace

void progress_start(Progress* progress, const std::string& label, size_t total) {
  progress->shown = stderr_is_terminal();
  progress->label = label;
  progress->done = 0;
  progress->total = total;
  if (progress->shown) draw(progress);
}

void progress_step(Progress* progress) {
  std::lock_guard<std::mutex> guard(progress->lock);
  ++progress->done;
  if (progress->shown) draw(progress);
}

void progress_end(Progress* progress) {
  if (progress->shown) printf_err("\n");
  progress->shown = false;
}
