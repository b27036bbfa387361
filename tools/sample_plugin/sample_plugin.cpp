// A sample plugin_Drovan.dll that honours the host's library contract, for
// tests and demos, and for plug-in authors to read beside the contract.
//
// Tests steer it and read it back through two files beside the DLL, named
// after it: "<name>.control" holds lines "key=value", read when the host
// fills the table (keys below); "<name>.calls" gets one line per call of
// an export or slot, in order, with its arguments.
//
//   handshake=0|1   slot 0's answer (1; it also checks the block)
//   start=0|1       slot 2's answer (1)
//   ready=0|1       slot 10's three readiness flags and its result (1)
//   open_link=0|1   slot 15's answer (1)
//   add_link=0|1    slot 29's answer (1)
//   list=N          items in slot 41's list (0); list_fail_at=I fails slot 42 at index I
//   crash_slot=N    a null-pointer write when slot N is called
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "bridge/plugin_contract.h"

namespace {

using namespace InterfaceDrovan;

HMODULE g_module = nullptr;
std::map<std::string, long> g_control;
int32_t g_next_item = 1;

std::wstring beside_module(const wchar_t* extension) {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameW(g_module, path, MAX_PATH);
  std::wstring name(path, n);
  const size_t dot = name.find_last_of(L'.');
  return (dot == std::wstring::npos ? name : name.substr(0, dot)) + extension;
}

long control(const char* key, long fallback) {
  const auto found = g_control.find(key);
  return found == g_control.end() ? fallback : found->second;
}

void read_control() {
  g_control.clear();
  FILE* file = _wfopen(beside_module(L".control").c_str(), L"rb");
  if (file == nullptr) return;
  char line[256];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    char* equals = std::strchr(line, '=');
    if (equals == nullptr) continue;
    *equals = '\0';
    g_control[line] = std::strtol(equals + 1, nullptr, 10);
  }
  std::fclose(file);
}

// Appends one line to the call log.
void note(int slot, const char* format = "", ...) {
  char text[512];
  int used = slot < 0 ? std::snprintf(text, sizeof text, "fill") : std::snprintf(text, sizeof text, "slot %d", slot);
  va_list args;
  va_start(args, format);
  if (*format != '\0') {
    text[used++] = ' ';
    std::vsnprintf(text + used, sizeof text - used, format, args);
  }
  va_end(args);
  FILE* file = _wfopen(beside_module(L".calls").c_str(), L"ab");
  if (file == nullptr) return;
  std::fprintf(file, "%s\n", text);
  std::fclose(file);
  if (slot >= 0 && control("crash_slot", -1) == slot) *static_cast<volatile int*>(nullptr) = slot;
}

int32_t WINAPI handshake(const Handshake_Block* block) {
  const bool agreed = block != nullptr && block->sixteen == 16 &&
                      std::memcmp(block->agreed, kHandshakeValue, sizeof block->agreed) == 0;
  note(0, "%s", agreed ? "agreed" : "foreign");
  return agreed ? control("handshake", 1) : 0;
}
int32_t WINAPI release() { note(1); return 1; }
int32_t WINAPI start() { note(2); return control("start", 1); }
int32_t WINAPI stop() { note(3); return 1; }

int32_t WINAPI get_state(Plugin_State* state) {
  note(10);
  const uint8_t ready = control("ready", 1) != 0;
  state->active_count = 0;
  state->ready_to_add = state->ready_to_open = state->connected = ready;
  return ready;
}

int32_t WINAPI open_link(const Link_Record* link, uint8_t result[16]) {
  note(15, "%ls", link->link);
  std::memset(result, 0x15, 16);
  return control("open_link", 1);
}

int32_t WINAPI event_value(uint32_t value, uint32_t* out) { note(16, "%u", value); *out = 0; return 1; }

int32_t WINAPI set_connection(const connection_setting_t* s) {
  note(17, "%d %d %u %u", s->first_value, s->second_value, s->tcp_port, s->udp_port);
  return 1;
}

int32_t WINAPI show(uint8_t shown) { note(24, "%u", shown); return 1; }

int32_t WINAPI set_callbacks(HWND sink, Call_Client_0_Fn c0, Call_Client_1_Fn c1, Read_Client_Data_Fn read) {
  wchar_t name[128] = {};
  if (sink != nullptr) ::GetWindowTextW(sink, name, 128);
  note(25, "%ls %d%d%d", name, c0 != nullptr, c1 != nullptr, read != nullptr);
  return 1;
}

int32_t WINAPI add_link(const Link_Record* link, Add_Result* result) {
  note(29, "%ls", link->link);
  if (control("add_link", 1) == 0) return 0;
  result->item_id = g_next_item++;
  return 1;
}

int32_t WINAPI remove_item(int32_t item) { note(32, "%d", item); return 1; }
int32_t WINAPI method_8() { note(39); return 1; }
int32_t WINAPI not_connected() { note(40); return 1; }

int32_t WINAPI list_header(List_Header* header) {
  note(41);
  *header = List_Header{1, static_cast<uint32_t>(control("list", 0)), 3, 4};
  return 1;
}

int32_t WINAPI list_item(uint32_t index, List_Item* item) {
  note(42, "%u", index);
  if (control("list_fail_at", -1) == static_cast<long>(index)) return 0;
  static const wchar_t kName[] = L"sample item";
  static const wchar_t kHash[] = L"00112233445566778899AABBCCDDEEFF";
  *item = List_Item{kName, 1000u + index, index, 2 * index, kHash};
  return 1;
}

}  // namespace

// The export with ordinal 1 (see the .def file): fills the 43 slots.
extern "C" void WINAPI drovan_fill_table(Plugin_Function_Table* table) {
  read_control();
  note(-1);
  table->handshake = handshake;
  table->release = release;
  table->start = start;
  table->stop = stop;
  table->get_state = get_state;
  table->open_link = open_link;
  table->event_value = event_value;
  table->set_connection = set_connection;
  table->show = show;
  table->set_callbacks = set_callbacks;
  table->add_link = add_link;
  table->remove = remove_item;
  table->method_8 = method_8;
  table->not_connected = not_connected;
  table->list_header = list_header;
  table->list_item = list_item;
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module = module;
  return TRUE;
}
