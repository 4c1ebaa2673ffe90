// The tool's output. Text is UTF-8 inside; on a Windows console it is
// written as UTF-16, elsewhere (files, pipes, POSIX terminals) as UTF-8.
#pragma once

#include <string>

void print_out(const std::string& utf8);
void print_err(const std::string& utf8);

// mingw's stdio here is the C99 one (%zu, %llu), checked as gnu_printf.
#ifdef _WIN32
#define KRVPACK_PRINTF_FORMAT __attribute__((format(gnu_printf, 1, 2)))
#else
#define KRVPACK_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))
#endif

void printf_out(const char* format, ...) KRVPACK_PRINTF_FORMAT;
void printf_err(const char* format, ...) KRVPACK_PRINTF_FORMAT;
