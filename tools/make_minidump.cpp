// make_minidump FILE [full]
// Writes a minidump of its own process (with all its memory when "full") with dbghelp's MiniDumpWriteDump,
// looked up at run time: real dump data for archive and compressor tests.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "system/system_library.h"
#include "system/unique_handle.h"

namespace {

// The parameters of MiniDumpWriteDump that this program uses; the
// exception, user-stream and callback arguments stay null.
using Write_Dump_Fn = BOOL(WINAPI*)(HANDLE process, DWORD process_id, HANDLE file, int type,
                                    void* exception, void* user_streams, void* callback);
constexpr int kMiniDumpWithDataSegs = 0x1;
constexpr int kMiniDumpWithHandleData = 0x4;
constexpr int kMiniDumpWithFullMemory = 0x2;

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: make_minidump FILE [full]\n");
    return 2;
  }
  const Core_Common::System_Library dbghelp(L"dbghelp.dll");
  const auto write_dump = dbghelp.find<Write_Dump_Fn>("MiniDumpWriteDump");
  if (write_dump == nullptr) return 3;

  const Core_Common::Unique_Handle file(::CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return 4;
  int type = kMiniDumpWithDataSegs | kMiniDumpWithHandleData;
  if (argc == 3 && std::strcmp(argv[2], "full") == 0) type |= kMiniDumpWithFullMemory;
  const BOOL ok = write_dump(::GetCurrentProcess(), ::GetCurrentProcessId(), file.get(), type,
                             nullptr, nullptr, nullptr);
  return ok ? 0 : 1;
}
