#include "crash/minidump.h"

#include <dbghelp.h>

namespace Crash_Capture {

namespace {

using Mini_Dump_Write_Dump_Fn = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE,
                                              PMINIDUMP_EXCEPTION_INFORMATION,
                                              PMINIDUMP_USER_STREAM_INFORMATION,
                                              PMINIDUMP_CALLBACK_INFORMATION);

// Looked up once, before any fault; never unloaded.
Mini_Dump_Write_Dump_Fn g_write_dump = nullptr;

}  // namespace

void prepare_minidump() {
  if (g_write_dump != nullptr) return;
  const HMODULE library = ::LoadLibraryW(L"dbghelp.dll");
  if (library == nullptr) return;
  g_write_dump = reinterpret_cast<Mini_Dump_Write_Dump_Fn>(
      reinterpret_cast<void*>(::GetProcAddress(library, "MiniDumpWriteDump")));
}

bool write_minidump(HANDLE file, EXCEPTION_POINTERS* pointers, DWORD thread_id) {
  if (pointers == nullptr) {
    // No fault to record: a breakpoint at this place stands for one, as if
    // raised and caught here.
    ::OutputDebugStringW(L"raising exception\r\n");
    CONTEXT context{};
    ::RtlCaptureContext(&context);
    EXCEPTION_RECORD record{};
    record.ExceptionCode = EXCEPTION_BREAKPOINT;
#if defined(_WIN64)
    record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
#else
    record.ExceptionAddress = reinterpret_cast<void*>(context.Eip);
#endif
    EXCEPTION_POINTERS breakpoint{&record, &context};
    return write_minidump(file, &breakpoint, ::GetCurrentThreadId());
  }
  ::OutputDebugStringW(L"writing minidump\r\n");
  if (g_write_dump == nullptr) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return false;
  }
  MINIDUMP_EXCEPTION_INFORMATION exception{};
  exception.ThreadId = thread_id;
  exception.ExceptionPointers = pointers;
  exception.ClientPointers = FALSE;
  return g_write_dump(::GetCurrentProcess(), ::GetCurrentProcessId(), file, MiniDumpNormal, &exception, nullptr,
                      nullptr) != FALSE;
}

}  // namespace Crash_Capture
