// A program that links the crash capture as the host does and faults on
// request, for the capture's tests. It prints its main thread's id first.
//
//   crash_test_program MODE
//
// MODE: null_write, fatal (the fatal internal error), invalid_parameter,
// no_parameters (an access violation raised without its two parameters),
// unmapped_ip (a call to an address on no mapped page), stack_overflow,
// other_thread (a null write on a thread without the guard), second_fault
// (a second thread faults as soon as CRASH.DMP appears), reentered (a
// fault of the thread that has just written a report), uncaught (a C++
// exception that nothing catches, outside the guard), chain (a null write
// three named functions down: fault_chain_first, _second, _third), start_only (no
// fault: starts the reporter as the capture would, for a baseline),
// plain_dump (no fault: a bare dump of this thread, then the reporter's
// start: the floor any capture is measured against).
// Before it faults it prints "fault_at T", T the system time in 100 ns
// ticks.
#include <windows.h>
#include <dbghelp.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "base/application_identity.h"
#include "base/fatal_error.h"
#include "crash/crash_handlers.h"
#include "fault_chain.h"

namespace {

volatile int* volatile g_null = nullptr;

void null_write() { *g_null = 1; }

// Each frame keeps a page of its own, so the stack runs out quickly.
int overflow(int depth) {
  if (depth == INT32_MAX) return 0;  // never: the stack ends long before
  volatile char page[4096];
  page[0] = static_cast<char>(depth);
  return overflow(depth + 1) + page[0];
}

std::wstring beside_program(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring text(path, n);
  return text.substr(0, text.find_last_of(L'\\') + 1) + name;
}

// The floor of any capture: a dump of this thread, written in place by the
// debug-help library, with nothing else around it.
void write_plain_dump() {
  using Write_Dump_Fn = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                      PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);
  const auto write = reinterpret_cast<Write_Dump_Fn>(
      reinterpret_cast<void*>(::GetProcAddress(::LoadLibraryW(L"dbghelp.dll"), "MiniDumpWriteDump")));
  CONTEXT context{};
  ::RtlCaptureContext(&context);
  EXCEPTION_RECORD record{};
  record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
  EXCEPTION_POINTERS pointers{&record, &context};
  MINIDUMP_EXCEPTION_INFORMATION exception{::GetCurrentThreadId(), &pointers, FALSE};
  const HANDLE file = ::CreateFileW(beside_program(L"CRASH.DMP").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
  if (write != nullptr && file != INVALID_HANDLE_VALUE) {
    write(::GetCurrentProcess(), ::GetCurrentProcessId(), file, MiniDumpNormal, &exception, nullptr, nullptr);
  }
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
}

void fault(const std::string& mode) {
  if (mode == "null_write") {
    null_write();
  } else if (mode == "chain") {
    std::printf("%d\n", fault_chain_first(1));
  } else if (mode == "fatal") {
    Core_Common::raise_fatal_error();
  } else if (mode == "invalid_parameter") {
    // What the run-time library does on an invalid parameter: call the
    // installed handler (Wine's msvcrt.dll has no setter for its own).
    if (const _invalid_parameter_handler handler = _get_invalid_parameter_handler()) {
      handler(L"expression", L"function", L"file", 1, 0);
    }
  } else if (mode == "no_parameters") {
    ::RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
  } else if (mode == "unmapped_ip") {
    reinterpret_cast<void (*)()>(static_cast<uintptr_t>(0x10))();
  } else if (mode == "stack_overflow") {
    std::printf("%d\n", overflow(0));
  } else if (mode == "other_thread") {
    std::thread(null_write).join();
  } else if (mode == "reentered") {
    // A report written here, then a fault of the same thread: as if the
    // capture itself had faulted.
    EXCEPTION_RECORD record{};
    record.ExceptionCode = EXCEPTION_BREAKPOINT;
    CONTEXT context{};
    ::RtlCaptureContext(&context);
    EXCEPTION_POINTERS pointers{&record, &context};
    Crash_Capture::write_crash_report(&pointers, L"crash_test_program");
    null_write();
  } else if (mode == "second_fault") {
    std::thread([] {
      const std::wstring dump = beside_program(L"CRASH.DMP");
      while (::GetFileAttributesW(dump.c_str()) == INVALID_FILE_ATTRIBUTES) ::Sleep(0);
      null_write();
    }).detach();
    ::Sleep(50);
    null_write();
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::printf("thread %lu\n", static_cast<unsigned long>(::GetCurrentThreadId()));
  FILETIME now;
  ::GetSystemTimePreciseAsFileTime(&now);
  std::printf("fault_at %llu\n", (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
  std::fflush(stdout);
  Core_Common::set_application_name(L"dr20100201");
  Core_Common::set_product_title(L"Drovan Plugin");
  Crash_Capture::install_crash_handlers();
  const std::string mode = argv[1];
  if (mode == "uncaught") throw std::runtime_error("nobody catches this");
  if (mode == "start_only" || mode == "plain_dump") {
    if (mode == "plain_dump") write_plain_dump();
    std::wstring command = L"\"" + beside_program(L"Faultpost.exe") + L"\" \"dr20100201crash_test_program.exe\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
      return 3;
    }
    ::WaitForSingleObject(process.hProcess, 10000);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return 0;
  }
  Crash_Capture::crash_guard([&] { fault(mode); });
  return 0;
}
