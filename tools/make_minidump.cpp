// make_minidump FILE [full]
// Writes a minidump of its own process (with all its memory when "full") with dbghelp's MiniDumpWriteDump,
// looked up at run time: real dump data for archive and compressor tests.
#include <windows.h>

#include <cstdio>
#include <cstring>

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
  HMODULE dbghelp = ::LoadLibraryW(L"dbghelp.dll");
  if (dbghelp == nullptr) return 3;
  const auto write_dump = reinterpret_cast<Write_Dump_Fn>(
      reinterpret_cast<void*>(::GetProcAddress(dbghelp, "MiniDumpWriteDump")));
  if (write_dump == nullptr) return 3;

  HANDLE file = ::CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 4;
  int type = kMiniDumpWithDataSegs | kMiniDumpWithHandleData;
  if (argc == 3 && std::strcmp(argv[2], "full") == 0) type |= kMiniDumpWithFullMemory;
  const BOOL ok = write_dump(::GetCurrentProcess(), ::GetCurrentProcessId(), file, type, nullptr,
                             nullptr, nullptr);
  ::CloseHandle(file);
  ::FreeLibrary(dbghelp);
  return ok ? 0 : 1;
}
