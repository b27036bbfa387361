// What the crash tests ask of a CRASH.DMP: the exception stream's thread
// and code, and the stack memory the dump holds for that thread. Every
// offset is checked against the file's size.
#pragma once

#include <windows.h>
#include <dbghelp.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace Crash_Capture {

struct Minidump_View {
  bool valid = false;
  DWORD thread_id = 0;
  DWORD code = 0;
  std::string stack;  // the faulting thread's stack bytes, as dumped

  // Whether a pointer-sized, aligned value in the stack lies in [low, high).
  bool stack_holds(uintptr_t low, uintptr_t high) const {
    for (size_t at = 0; at + sizeof(uintptr_t) <= stack.size(); at += sizeof(uintptr_t)) {
      uintptr_t value;
      std::memcpy(&value, stack.data() + at, sizeof value);
      if (value >= low && value < high) return true;
    }
    return false;
  }
};

namespace minidump_detail {

template <typename T>
bool read_at(const std::string& bytes, uint64_t offset, T& out) {
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return false;
  std::memcpy(&out, bytes.data() + offset, sizeof(T));
  return true;
}

}  // namespace minidump_detail

inline Minidump_View read_minidump(const std::string& bytes) {
  using minidump_detail::read_at;
  Minidump_View view;
  MINIDUMP_HEADER header;
  // "MDMP"
  if (!read_at(bytes, 0, header) || header.Signature != 0x504D444Du) return view;
  RVA threads_at = 0;
  bool have_exception = false;
  for (ULONG32 i = 0; i < header.NumberOfStreams && i < 64; ++i) {
    MINIDUMP_DIRECTORY entry;
    if (!read_at(bytes, header.StreamDirectoryRva + uint64_t{i} * sizeof entry, entry)) return view;
    if (entry.StreamType == ExceptionStream) {
      MINIDUMP_EXCEPTION_STREAM exception;
      if (!read_at(bytes, entry.Location.Rva, exception)) return view;
      view.thread_id = exception.ThreadId;
      view.code = exception.ExceptionRecord.ExceptionCode;
      have_exception = true;
    } else if (entry.StreamType == ThreadListStream) {
      threads_at = entry.Location.Rva;
    }
  }
  ULONG32 count = 0;
  if (!have_exception || threads_at == 0 || !read_at(bytes, threads_at, count)) return view;
  for (ULONG32 i = 0; i < count && i < 4096; ++i) {
    MINIDUMP_THREAD thread;
    if (!read_at(bytes, threads_at + sizeof count + uint64_t{i} * sizeof thread, thread)) return view;
    if (thread.ThreadId != view.thread_id) continue;
    const MINIDUMP_LOCATION_DESCRIPTOR& memory = thread.Stack.Memory;
    if (memory.Rva > bytes.size() || bytes.size() - memory.Rva < memory.DataSize) return view;
    view.stack = bytes.substr(memory.Rva, memory.DataSize);
    view.valid = true;
  }
  return view;
}

}  // namespace Crash_Capture
