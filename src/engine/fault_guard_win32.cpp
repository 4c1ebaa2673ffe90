// The fault guard: a vectored exception handler and, per thread, the guard
// frame to return to. The handler does not unwind: it resumes the thread in
// a small function on the faulting stack that jumps back to the frame.
#include "fault_guard.h"

#include <cstdint>

namespace {

struct GuardFrame {
  const GuardedRange* ranges;
  size_t range_count;
  GuardFrame* outer;
  void* jump_buffer[5];  // what __builtin_setjmp keeps
  DWORD exception_code;
  ULONG_PTR io_status;   // the NTSTATUS behind an in-page error
};

DWORD g_frame_slot = TLS_OUT_OF_INDEXES;

GuardFrame* current_frame() {
  return static_cast<GuardFrame*>(TlsGetValue(g_frame_slot));
}

bool inside(const GuardFrame& frame, uintptr_t address) {
  for (size_t i = 0; i < frame.range_count; ++i) {
    uintptr_t start = reinterpret_cast<uintptr_t>(frame.ranges[i].start);
    if (address >= start && address - start < frame.ranges[i].size) return true;
  }
  return false;
}

[[noreturn]] void resume_at_guard() {
  __builtin_longjmp(current_frame()->jump_buffer, 1);
}

LONG CALLBACK on_exception(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  DWORD code = record->ExceptionCode;
  if (code != EXCEPTION_IN_PAGE_ERROR && code != EXCEPTION_ACCESS_VIOLATION) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  GuardFrame* frame = current_frame();
  if (frame == nullptr || record->NumberParameters < 2 ||
      !inside(*frame, record->ExceptionInformation[1])) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  frame->exception_code = code;
  frame->io_status = record->NumberParameters >= 3 ? record->ExceptionInformation[2] : 0;
  // Continue in resume_at_guard as if called from below the faulting frame,
  // with the stack aligned as a call leaves it.
  CONTEXT* context = pointers->ContextRecord;
  context->Rsp = ((context->Rsp - 256) & ~static_cast<DWORD64>(15)) - 8;
  context->Rip = reinterpret_cast<DWORD64>(&resume_at_guard);
  return EXCEPTION_CONTINUE_EXECUTION;
}

BOOL CALLBACK install_handler(INIT_ONCE*, void*, void**) {
  g_frame_slot = TlsAlloc();
  if (g_frame_slot == TLS_OUT_OF_INDEXES) return FALSE;
  // First in line, so that no other handler sees a fault we own.
  return AddVectoredExceptionHandler(1, on_exception) != nullptr;
}

DWORD error_of(const GuardFrame& frame) {
  if (frame.exception_code == EXCEPTION_IN_PAGE_ERROR && frame.io_status != 0) {
    typedef ULONG(WINAPI * StatusToError)(LONG);
    static const StatusToError to_error = reinterpret_cast<StatusToError>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlNtStatusToDosError")));
    if (to_error != nullptr) return to_error(static_cast<LONG>(frame.io_status));
  }
  return frame.exception_code == EXCEPTION_IN_PAGE_ERROR ? ERROR_READ_FAULT : ERROR_NOACCESS;
}

// Kept out of line: the jump back lands in this frame, which must still be
// the one that set the jump buffer.
__attribute__((noinline)) DWORD run_in_frame(GuardFrame* frame, void (*work)(void*),
                                             void* context) {
  if (__builtin_setjmp(frame->jump_buffer) != 0) {
    TlsSetValue(g_frame_slot, frame->outer);
    return error_of(*frame);
  }
  TlsSetValue(g_frame_slot, frame);
  work(context);
  TlsSetValue(g_frame_slot, frame->outer);
  return ERROR_SUCCESS;
}

}  // namespace

DWORD run_guarded(std::initializer_list<GuardedRange> ranges, void (*work)(void*),
                  void* context) {
  static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
  if (!InitOnceExecuteOnce(&once, install_handler, nullptr, nullptr)) return GetLastError();
  GuardFrame frame = {};
  frame.ranges = ranges.begin();
  frame.range_count = ranges.size();
  frame.outer = current_frame();
  return run_in_frame(&frame, work, context);
}
