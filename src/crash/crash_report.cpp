#include "crash/crash_report.h"

#include "base/application_identity.h"
#include "base/crash_context.h"
#include "crash/crash_log_buffer.h"
#include "crash/crash_paths.h"
#include "crash/exception_names.h"
#include "crash/minidump.h"
#include "system/os_version_table.h"
#include "system/page_allocator.h"

namespace Crash_Capture {

namespace {

constexpr wchar_t kUnknown[] = L"Unknown";

// The host's path, or "Unknown" (the files then land in the current
// directory).
void program_path(wchar_t (&path)[kPathUnits]) {
  const DWORD n = ::GetModuleFileNameW(nullptr, path, kPathUnits - 2);
  if (n == 0 || n >= kPathUnits - 2) ::lstrcpyW(path, kUnknown);
}

HANDLE create_beside(const wchar_t* path, const wchar_t* name) {
  wchar_t file[kPathUnits];
  if (!replace_base_name(path, name, file, kPathUnits)) return INVALID_HANDLE_VALUE;
  return ::CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
}

// The base name of the module whose allocation holds `address`.
void module_of(const void* address, wchar_t (&name)[kPathUnits]) {
  ::lstrcpyW(name, kUnknown);
  MEMORY_BASIC_INFORMATION memory{};
  if (::VirtualQuery(address, &memory, sizeof memory) == 0 || memory.AllocationBase == nullptr) return;
  wchar_t path[kPathUnits];
  const DWORD n = ::GetModuleFileNameW(static_cast<HMODULE>(memory.AllocationBase), path, kPathUnits - 2);
  if (n == 0 || n >= kPathUnits - 2) return;
  ::lstrcpyW(name, base_name(path));
}

void write_system(HANDLE log) {
  SYSTEMTIME now_system;
  ::GetSystemTime(&now_system);
  FILETIME now_file, local;
  WORD date = 0, time = 0;
  wchar_t when[64] = L"";
  if (::SystemTimeToFileTime(&now_system, &now_file) && ::FileTimeToLocalFileTime(&now_file, &local) &&
      ::FileTimeToDosDateTime(&local, &date, &time)) {
    ::wsprintfW(when, L"%d/%d/%d %02d:%02d:%02d", (date >> 5) & 15, date & 31, (date >> 9) + 1980, time >> 11,
                (time >> 5) & 63, (time & 31) * 2);
  }
  log_printf(log, L"Error occurred at %s.\r\n", when);

  wchar_t path[kPathUnits];
  program_path(path);
  wchar_t user[200];
  DWORD user_units = 199;
  if (!::GetUserNameW(user, &user_units)) ::lstrcpyW(user, kUnknown);
  log_printf(log, L"%s, run by %s.\r\n", path, user);

  // The version the system reports to this program, and its name.
  wchar_t name[64] = L"";
  wchar_t version[48] = L"";
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  const char* os_name = Core_Common::kUnknownWindows;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (::GetVersionExW(&info)) {
#pragma GCC diagnostic pop
    const unsigned build = info.dwBuildNumber & 0xFFFF;
    ::wsprintfW(version, L"%u.%u.%u", static_cast<unsigned>(info.dwMajorVersion),
                static_cast<unsigned>(info.dwMinorVersion), build);
    os_name = Core_Common::classify_os_version(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion, build).name;
  }
  for (size_t i = 0; i + 1 < 64 && os_name[i] != '\0'; ++i) name[i] = static_cast<wchar_t>(os_name[i]);
  log_printf(log, L"Operating system:  %s (%s).\r\n", name, version);

  SYSTEM_INFO system{};
  ::GetSystemInfo(&system);
  log_printf(log, L"%d processor(s), type %d.\r\n", static_cast<int>(system.dwNumberOfProcessors),
             static_cast<int>(system.dwProcessorType));
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  ::GlobalMemoryStatusEx(&memory);
  auto mb = [](DWORDLONG bytes) { return static_cast<int>(mebibytes_rounded_up(bytes)); };
  log_printf(log, L"%d%% memory in use.\r\n", static_cast<int>(memory.dwMemoryLoad));
  log_printf(log, L"%d MBytes physical memory.\r\n", mb(memory.ullTotalPhys));
  log_printf(log, L"%d MBytes physical memory free.\r\n", mb(memory.ullAvailPhys));
  log_printf(log, L"%d MBytes paging file.\r\n", mb(memory.ullTotalPageFile));
  log_printf(log, L"%d MBytes paging file free.\r\n", mb(memory.ullAvailPageFile));
  log_printf(log, L"%d MBytes user address space.\r\n", mb(memory.ullTotalVirtual));
  log_printf(log, L"%d MBytes user address space free.\r\n", mb(memory.ullAvailVirtual));
  log_printf(log, L"\r\n");
}

void write_program(HANDLE log) {
  log_printf(log, L"Program name: %s\r\n", Core_Common::product_title());

  using Get_Process_Times_Fn = BOOL(WINAPI*)(HANDLE, FILETIME*, FILETIME*, FILETIME*, FILETIME*);
  const auto get_times = reinterpret_cast<Get_Process_Times_Fn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"Kernel32.dll"), "GetProcessTimes")));
  FILETIME created, exited, kernel, user, now;
  if (get_times != nullptr && get_times(::GetCurrentProcess(), &created, &exited, &kernel, &user)) {
    ::GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    const uint64_t run = ticks(now) > ticks(created) ? (ticks(now) - ticks(created)) / 10000000 : 0;
    log_printf(log, L"Process execute time: %d day %d:%d:%d\r\n", static_cast<int>(run / 86400),
               static_cast<int>(run / 3600 % 24), static_cast<int>(run / 60 % 60), static_cast<int>(run % 60));
  }
  log_printf(log, L"Program status: %s\r\n", L"");
  log_printf(log, L"Program mode: %s\r\n", L"");
  log_printf(log, L"Socket init version: %s\r\n", L"n/a");
  log_printf(log, L"web frame: %s\r\n", L"");
  log_printf(log, L"msg id: %u\r\n", 0u);
  log_printf(log, L"piece cache size: %u\r\n", 0u);
  log_printf(log, L"bt mem_block_size: %u\r\n", 0u);
  log_append(L"crash info: ", log);
  log_append(L"\r\n", log);
  static wchar_t debug_info[Core_Common::kCrashContextMax + 1];
  Core_Common::copy_crash_context_text(debug_info, Core_Common::kCrashContextMax + 1);
  log_append(L"debug info: ", log);
  log_append(debug_info, log);
  log_append(L"\r\n", log);
  log_printf(log, L"\r\n");

  Core_Common::Page_Stats pages;
  Core_Common::try_page_stats(pages);
  log_printf(log, L"pool_block dump:\r\n");
  log_printf(log, L"  allocated_size = %u\r\n", pages.region_bytes);
  log_printf(log, L"  allocated_list_size = %u\r\n", pages.region_count);
  log_printf(log, L"  free_block_size = %u\r\n", pages.free_bytes);
  log_printf(log, L"  free_block_num = %u\r\n", pages.free_pages);
  log_printf(log, L"  commited_size = %u\r\n", pages.committed_bytes);
  log_printf(log, L"  notblock_size = %u\r\n", pages.large_bytes);
  log_printf(log, L"  notblock_number = %u\r\n", pages.large_count);
  log_printf(log, L"  total_size = %u\r\n", pages.region_bytes + pages.large_bytes);
  log_printf(log, L"\r\n");
}

void write_fault(HANDLE log, const EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  const CONTEXT& context = *pointers->ContextRecord;
  if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters >= 2) {
    wchar_t text[128];
    ::wsprintfW(text, L"%s location %08x caused an access violation.\r\n",
                record.ExceptionInformation[0] == 0 ? L"Read from" : L"Write to",
                static_cast<unsigned>(record.ExceptionInformation[1]));
    log_printf(log, L"%s", text);
  }
  log_printf(log, L"\r\n");
  log_printf(log, L"Context:\r\n");
#if defined(_WIN64)
  // The 64-bit registers, each as its two 32-bit halves.
  auto hi = [](DWORD64 v) { return static_cast<unsigned>(v >> 32); };
  auto lo = [](DWORD64 v) { return static_cast<unsigned>(v); };
  log_printf(log, L"RDI:    0x%08x%08x  RSI: 0x%08x%08x  RAX:   0x%08x%08x\r\n", hi(context.Rdi), lo(context.Rdi),
             hi(context.Rsi), lo(context.Rsi), hi(context.Rax), lo(context.Rax));
  log_printf(log, L"RBX:    0x%08x%08x  RCX: 0x%08x%08x  RDX:   0x%08x%08x\r\n", hi(context.Rbx), lo(context.Rbx),
             hi(context.Rcx), lo(context.Rcx), hi(context.Rdx), lo(context.Rdx));
  log_printf(log, L"R8:     0x%08x%08x  R9:  0x%08x%08x  R10:   0x%08x%08x\r\n", hi(context.R8), lo(context.R8),
             hi(context.R9), lo(context.R9), hi(context.R10), lo(context.R10));
  log_printf(log, L"R11:    0x%08x%08x  R12: 0x%08x%08x  R13:   0x%08x%08x\r\n", hi(context.R11), lo(context.R11),
             hi(context.R12), lo(context.R12), hi(context.R13), lo(context.R13));
  log_printf(log, L"R14:    0x%08x%08x  R15: 0x%08x%08x\r\n", hi(context.R14), lo(context.R14), hi(context.R15),
             lo(context.R15));
  log_printf(log, L"RIP:    0x%08x%08x  RBP: 0x%08x%08x  SegCs: 0x%08x\r\n", hi(context.Rip), lo(context.Rip),
             hi(context.Rbp), lo(context.Rbp), static_cast<unsigned>(context.SegCs));
  log_printf(log, L"EFlags: 0x%08x  RSP: 0x%08x%08x  SegSs: 0x%08x\r\n", static_cast<unsigned>(context.EFlags),
             hi(context.Rsp), lo(context.Rsp), static_cast<unsigned>(context.SegSs));
  log_printf(log, L"\r\nBytes at CS:RIP:\r\n");
  const auto* code = reinterpret_cast<const BYTE*>(context.Rip);
#else
  log_printf(log, L"EDI:    0x%08x  ESI: 0x%08x  EAX:   0x%08x\r\n", context.Edi, context.Esi, context.Eax);
  log_printf(log, L"EBX:    0x%08x  ECX: 0x%08x  EDX:   0x%08x\r\n", context.Ebx, context.Ecx, context.Edx);
  log_printf(log, L"EIP:    0x%08x  EBP: 0x%08x  SegCs: 0x%08x\r\n", context.Eip, context.Ebp, context.SegCs);
  log_printf(log, L"EFlags: 0x%08x  ESP: 0x%08x  SegSs: 0x%08x\r\n", context.EFlags, context.Esp, context.SegSs);
  log_printf(log, L"\r\nBytes at CS:EIP:\r\n");
  const auto* code = reinterpret_cast<const BYTE*>(context.Eip);
#endif
  // Each byte on its own: the instruction pointer may sit at the end of a
  // mapped range, or on no mapped page at all.
  for (int i = 0; i < 16; ++i) {
    BYTE byte = 0;
    SIZE_T read = 0;
    if (::ReadProcessMemory(::GetCurrentProcess(), code + i, &byte, 1, &read) && read == 1) {
      log_printf(log, L"%02x ", byte);
    } else {
      log_printf(log, L"?? ");
    }
  }
  log_printf(log, L"\r\n\r\nStack: [Ignore]\r\n\r\n");
  log_printf(log, L"Module List: [Ignore]\r\n");
}

void start_reporter(const wchar_t* path) {
  wchar_t reporter[kPathUnits];
  if (!replace_base_name(path, kReporterName, reporter, kPathUnits)) return;
  // "<reporter>" "<application name><host's file name>": the reporter's
  // path quoted, so a directory with blanks in it works.
  static wchar_t command[2 * kPathUnits + 80];
  ::wsprintfW(command, L"\"%s\" \"%s%s\"", reporter, Core_Common::application_name(), base_name(path));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION process{};
  if (::CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
}

}  // namespace

int write_crash_files(EXCEPTION_POINTERS* pointers, const wchar_t* handler_label, DWORD thread_id) {
  wchar_t path[kPathUnits];
  program_path(path);
  const wchar_t* base = base_name(path);
  wchar_t application[kPathUnits];
  name_without_extension(base, application, kPathUnits);

  // Without a dump the text report and the reporter still follow; the log
  // then says why the dump is missing, since an older CRASH.DMP may still
  // lie beside it.
  DWORD dump_error = 0;
  const HANDLE dump = create_beside(path, L"CRASH.DMP");
  if (dump == INVALID_HANDLE_VALUE) {
    dump_error = ::GetLastError();
  } else {
    if (!write_minidump(dump, pointers, thread_id)) dump_error = ::GetLastError() != 0 ? ::GetLastError() : 1;
    ::CloseHandle(dump);
  }

  const HANDLE log = create_beside(path, L"CRASHLOG.TXT");
  if (log == INVALID_HANDLE_VALUE) {
    ::OutputDebugStringW(L"Error creating exception report\r\n");
    return 0;
  }
  log_printf(log, L"\xFEFF");
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  wchar_t module[kPathUnits];
  module_of(record.ExceptionAddress, module);
#if defined(_WIN64)
  const DWORD64 ip = pointers->ContextRecord->Rip;
  log_printf(log, L"%s caused %s (0x%08x) \r\nin module %s at %04x:%08x%08x.\r\n\r\n", application,
             describe_exception(record.ExceptionCode), static_cast<unsigned>(record.ExceptionCode), module,
             static_cast<unsigned>(pointers->ContextRecord->SegCs), static_cast<unsigned>(ip >> 32),
             static_cast<unsigned>(ip));
#else
  log_printf(log, L"%s caused %s (0x%08x) \r\nin module %s at %04x:%08x.\r\n\r\n", application,
             describe_exception(record.ExceptionCode), static_cast<unsigned>(record.ExceptionCode), module,
             static_cast<unsigned>(pointers->ContextRecord->SegCs), static_cast<unsigned>(pointers->ContextRecord->Eip));
#endif
  log_printf(log, L"Exception handler called in %s.\r\n", handler_label);
  write_system(log);
  write_program(log);
  write_fault(log, pointers);

  const HANDLE system_log = create_beside(path, L"CRASHLOG.DAT");
  if (system_log == INVALID_HANDLE_VALUE) {
    ::OutputDebugStringW(L"Error creating SysLog.dat\r\n");
  } else {
    ::CloseHandle(system_log);
  }
  if (dump_error != 0) log_printf(log, L"CRASH.DMP not written (error %u).\r\n", static_cast<unsigned>(dump_error));
  log_printf(log, L"\r\n===== [end of %s] =====\r\n", L"CRASHLOG.TXT");
  log_flush(log);
  ::CloseHandle(log);

  start_reporter(path);
  return 1;
}

}  // namespace Crash_Capture
