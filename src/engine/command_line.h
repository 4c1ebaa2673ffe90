// Splitting the process command line into the run's arguments.
#pragma once

constexpr int kArgumentSlots = 256;

struct ArgumentList {
  char* slots[kArgumentSlots];  // each a separately allocated copy
  int count;
};

// Splits `command_line` by the updater's own rules (blanks are 0x01..0x20,
// a high byte ends an unquoted argument, no escapes). Arguments beyond the
// 256th are ignored. False when memory for a copy cannot be obtained; the
// arguments stored until then stay in the list.
bool split_command_line(const char* command_line, ArgumentList* arguments);

// The list normally lives until the process ends; tests release it.
void release_arguments(ArgumentList* arguments);
