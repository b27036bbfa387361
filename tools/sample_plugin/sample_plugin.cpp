// A sample plugin_Drovan.dll that honours the host's library contract, for
// tests and demos, and for plug-in authors to read beside the contract.
//
// It keeps a small model of download items: slot 29 adds one per link,
// whose data is its link's text repeated to `data_size` bytes; the event
// slots report that data in chunks, its values and its details, and the
// list slots list the items.
//
// Tests steer it and read it back through two files beside the DLL, named
// after it: "<name>.control" holds lines "key=value", read again at every
// call, so a test may change them while the host runs (keys below);
// "<name>.calls" gets one line per call of the export or a slot, in order,
// with its arguments.
//
//   handshake=0|1    slot 0's answer (1; it also checks the block)
//   start=0|1        slot 2's answer (1)
//   state=0|1        slot 10's result (1)
//   ready_add=0|1, ready_open=0|1, connected=0|1
//                    slot 10's flags at 16, 17 and 18 (1 each)
//   open_link=0|1    slot 15's answer (1)
//   add_link=0|1     slot 29's answer (1)
//   data_size=N      bytes of a new item's data (100); chunk=N, bytes a chunk (40)
//   event_on_add=C   after an add, posts event C for the new item (none)
//   list=N           items in slot 41's list (the model's items)
//   list_fail_at=I   slot 42 fails at index I
//   hash_length=N    characters of slot 42's hash text (32)
//   crash_slot=N     a null-pointer write when slot N is called
//   overflow_slot=N  slot N recurses until its thread's stack is gone
//   heap_lock_slot=N  slot N faults while it holds the process heap's lock
//   loader_lock_slot=N slot N faults while it holds the loader lock
//   attach_lock_slot=N slot N faults while it holds the lock that this
//                    library's DLL_THREAD_ATTACH takes (no thread can start)
//   twin_fault_slot=N slot N lets two threads of the plug-in fault at once
//   throw_slot=N     slot N calls throw_from_marked_site, which logs
//                    "throw_site ADDRESS" (an address inside it) and throws a
//                    C++ exception that nothing in the plug-in catches
//   sleep_slot=N, sleep_ms=M
//                    slot N sleeps M ms on the calling thread (a hung host)
//   act=A            what slot 39 sets off, on a thread of the plug-in's own,
//                    for item act_item (0); each logs a "callback" line:
//                    1 posts event act_event to the sink window;
//                    2 call_client_0 with act_text x's (-1: a null text);
//                    3 call_client_1;
//                    4 read_client_data of act_size bytes at act_offset into a
//                      buffer filled with 0xcc, logging what it holds after:
//                      untouched, zeros, all 5a (the simulator's answer) or mixed;
//                    5 two threads call call_client_1 200 times each, for items
//                      act_item and act_item + 1, and count the answers that
//                      are not their item's text (see the simulator's text:item);
//                    6 read_client_data in a loop until the host refuses, on a
//                      thread that slot 1 does not stop
//   probe_callbacks=1 slot 25 calls each host callback once (see there)
//   clobber_module=1 the export writes past its 43 slots, over the module handle
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>

#include "bridge/plugin_contract.h"

namespace {

using namespace InterfaceDrovan;

struct Item {
  std::wstring link;
  std::string data;
  uint64_t reported = 0;       // bytes handed out through slots 30/31
  uint64_t last_reported = 0;  // through slots 36/37
};

HMODULE g_module = nullptr;
HWND g_sink = nullptr;
Call_Client_0_Fn g_call_client_0 = nullptr;
Call_Client_1_Fn g_call_client_1 = nullptr;
Read_Client_Data_Fn g_read_client_data = nullptr;
std::map<std::string, long> g_control;
std::map<int32_t, Item> g_items;  // slot calls come on the host's main thread
int32_t g_next_item = 1;

Item* find_item(int32_t id) {
  const auto found = g_items.find(id);
  return found == g_items.end() ? nullptr : &found->second;
}

std::wstring beside_module(const wchar_t* extension) {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = ::GetModuleFileNameW(g_module, path, MAX_PATH);
  std::wstring name(path, n);
  const size_t dot = name.find_last_of(L'.');
  return (dot == std::wstring::npos ? name : name.substr(0, dot)) + extension;
}

// Slots run on the host's main thread, slot 39 on its workers, the act
// thread on its own: the control lines are shared. A system lock, which
// needs neither set-up nor clean-up when the library comes and goes.
SRWLOCK g_control_lock = SRWLOCK_INIT;

class Control_Lock {
 public:
  Control_Lock() { ::AcquireSRWLockExclusive(&g_control_lock); }
  ~Control_Lock() { ::ReleaseSRWLockExclusive(&g_control_lock); }
};

long control(const char* key, long fallback) {
  const Control_Lock hold;
  const auto found = g_control.find(key);
  return found == g_control.end() ? fallback : found->second;
}

void read_control() {
  const Control_Lock hold;
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

// Each frame keeps a page of its own, so the stack runs out quickly.
int overflow(int depth) {
  if (depth == INT32_MAX) return 0;  // never: the stack ends long before
  volatile char page[4096];
  page[0] = static_cast<char>(depth);
  return overflow(depth + 1) + page[0];
}

CRITICAL_SECTION g_attach_lock;  // taken by every DLL_THREAD_ATTACH

volatile int* volatile g_null = nullptr;

[[noreturn]] void null_write(int value) {
  *g_null = value;
  __builtin_unreachable();
}

void note(int slot, const char* format = "", ...);

void fault_holding_loader_lock(int slot) {
  using Lock_Fn = LONG(NTAPI*)(ULONG, ULONG*, ULONG_PTR*);
  const auto lock = reinterpret_cast<Lock_Fn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "LdrLockLoaderLock")));
  ULONG_PTR cookie = 0;
  if (lock != nullptr) lock(0, nullptr, &cookie);
  null_write(slot);
}

HANDLE g_fault_together = nullptr;  // released once both threads wait

DWORD WINAPI fault_when_released(void* value) {
  ::WaitForSingleObject(g_fault_together, INFINITE);
  null_write(static_cast<int>(reinterpret_cast<intptr_t>(value)));
}

// Two threads released at the same moment, each writing through null.
void fault_on_two_threads(int slot) {
  g_fault_together = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  for (int i = 0; i < 2; ++i) {
    ::CreateThread(nullptr, 0, fault_when_released, reinterpret_cast<void*>(static_cast<intptr_t>(slot)), 0, nullptr);
  }
  ::Sleep(200);
  ::SetEvent(g_fault_together);
  ::Sleep(INFINITE);
}

// The place a test looks for in the faulting thread's stack.
__attribute__((noinline)) void throw_from_marked_site() {
marked:
  note(-3, "%p", &&marked);
  throw std::runtime_error("thrown by the sample plug-in");
}

// The faults a test can ask of a slot.
void fault_if_asked(int slot) {
  if (control("crash_slot", -1) == slot) null_write(slot);
  if (control("overflow_slot", -1) == slot) overflow(0);
  if (control("heap_lock_slot", -1) == slot) {
    ::HeapLock(::GetProcessHeap());
    null_write(slot);
  }
  if (control("loader_lock_slot", -1) == slot) fault_holding_loader_lock(slot);
  if (control("attach_lock_slot", -1) == slot) {
    ::EnterCriticalSection(&g_attach_lock);
    null_write(slot);
  }
  if (control("twin_fault_slot", -1) == slot) fault_on_two_threads(slot);
  if (control("throw_slot", -1) == slot) throw_from_marked_site();
  if (control("sleep_slot", -1) == slot) ::Sleep(static_cast<DWORD>(control("sleep_ms", 0)));
}

// Appends one line to the call log.
void note(int slot, const char* format, ...) {
  char text[512];
  // -1: the export; -2: what a host callback answered; -3: the throw site.
  int used = slot == -1   ? std::snprintf(text, sizeof text, "fill")
             : slot == -2 ? std::snprintf(text, sizeof text, "callback")
             : slot == -3 ? std::snprintf(text, sizeof text, "throw_site")
                          : std::snprintf(text, sizeof text, "slot %d", slot);
  va_list args;
  va_start(args, format);
  if (*format != '\0') {
    text[used++] = ' ';
    std::vsnprintf(text + used, sizeof text - used, format, args);
  }
  va_end(args);
  FILE* file = _wfopen(beside_module(L".calls").c_str(), L"ab");
  if (file != nullptr) {
    std::fprintf(file, "%s\n", text);
    std::fclose(file);
  }
  read_control();
  if (slot >= 0) fault_if_asked(slot);
}

// Texts are logged in UTF-8, so a test sees exactly what arrived.
std::string utf8(const wchar_t* text) {
  if (text == nullptr) return "(null)";
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n) - 1);
  return out;
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
  state->active_count = static_cast<int32_t>(g_items.size());
  state->ready_to_add = control("ready_add", 1) != 0;
  state->ready_to_open = control("ready_open", 1) != 0;
  state->connected = control("connected", 1) != 0;
  return control("state", 1);
}

int32_t WINAPI open_link(const Link_Record* link, uint8_t result[16]) {
  note(15, "%s", utf8(link->link).c_str());
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
  g_sink = sink;
  g_call_client_0 = c0;
  g_call_client_1 = c1;
  g_read_client_data = read;
  wchar_t name[128] = {};
  if (sink != nullptr) ::GetWindowTextW(sink, name, 128);
  // With probe_callbacks=1 each callback is called once, with null
  // outputs, and the log shows what each answered (which tells stand-ins
  // apart); otherwise it shows which were given.
  if (control("probe_callbacks", 0) != 0) {
    const int32_t a = c0 != nullptr ? c0(-1, nullptr, nullptr, nullptr) : -1;
    const int32_t b = c1 != nullptr ? c1(-1, nullptr, nullptr, nullptr, nullptr) : -1;
    const int32_t c = read != nullptr ? read(-1, nullptr, 0, 0) : -1;
    note(25, "%s %d %d %d", utf8(name).c_str(), a, b, c);
  } else {
    note(25, "%s %d%d%d", utf8(name).c_str(), c0 != nullptr, c1 != nullptr, read != nullptr);
  }
  return 1;
}

int32_t WINAPI add_link(const Link_Record* link, Add_Result* result) {
  note(29, "%s", utf8(link->link).c_str());
  if (control("add_link", 1) == 0) return 0;
  const int32_t id = g_next_item++;
  Item& item = g_items[id];
  item.link = link->link;
  const std::string text(item.link.begin(), item.link.end());
  const size_t size = static_cast<size_t>(control("data_size", 100));
  while (item.data.size() < size) item.data += text.empty() ? std::string(".") : text;
  item.data.resize(size);
  result->item_id = id;
  const long event = control("event_on_add", -1);
  if (event >= 0 && g_sink != nullptr) ::PostMessageW(g_sink, kPluginEventMessage, id, event);
  return 1;
}

int32_t WINAPI remove_item(int32_t item) {
  note(32, "%d", item);
  return g_items.erase(item) != 0;
}

// Slots 30/31 and 36/37: the item's data in chunks, each pair with its
// own cursor. Size 0 once everything was handed out.
int32_t next_chunk(int32_t id, uint64_t Item::*cursor, uint64_t* position, uint32_t* size) {
  *position = 0;
  *size = 0;
  Item* item = find_item(id);
  if (item == nullptr) return 0;
  const uint64_t left = item->data.size() - item->*cursor;
  *position = item->*cursor;
  *size = static_cast<uint32_t>(std::min<uint64_t>(left, static_cast<uint64_t>(control("chunk", 40))));
  return 1;
}
int32_t read_chunk(int32_t id, uint64_t Item::*cursor, void* buffer, uint64_t position, uint32_t size) {
  Item* item = find_item(id);
  if (item == nullptr || buffer == nullptr || position + size > item->data.size()) return 0;
  std::memcpy(buffer, item->data.data() + position, size);
  item->*cursor = position + size;
  return 1;
}
int32_t WINAPI chunk_info(int32_t id, uint64_t* position, uint32_t* size) {
  note(30, "%d", id);
  return next_chunk(id, &Item::reported, position, size);
}
int32_t WINAPI chunk_read(int32_t id, void* buffer, uint64_t position, uint32_t size) {
  note(31, "%d %llu %u", id, static_cast<unsigned long long>(position), size);
  return read_chunk(id, &Item::reported, buffer, position, size);
}
int32_t WINAPI last_chunk_info(int32_t id, uint64_t* position, uint32_t* size) {
  note(36, "%d", id);
  return next_chunk(id, &Item::last_reported, position, size);
}
int32_t WINAPI last_chunk_read(int32_t id, void* buffer, uint64_t position, uint32_t size) {
  note(37, "%d %llu %u", id, static_cast<unsigned long long>(position), size);
  return read_chunk(id, &Item::last_reported, buffer, position, size);
}

int32_t WINAPI item_values(int32_t id, uint64_t* value, uint32_t* number) {
  note(33, "%d", id);
  const Item* item = find_item(id);
  if (item == nullptr) return 0;
  *value = item->data.size();
  *number = static_cast<uint32_t>(id);
  return 1;
}

int32_t WINAPI read_block(int32_t id, void* buffer, uint32_t capacity, uint32_t* size) {
  note(34, "%d %u", id, capacity);
  const Item* item = find_item(id);
  if (item == nullptr) return 0;
  *size = static_cast<uint32_t>(item->data.size());
  if (buffer == nullptr) return 1;
  if (capacity < item->data.size()) return 0;
  std::memcpy(buffer, item->data.data(), item->data.size());
  return 1;
}

int32_t WINAPI item_details(int32_t id, Item_Details* details) {
  note(35, "%d", id);
  const Item* item = find_item(id);
  if (item == nullptr) return 0;
  *details = Item_Details{id, static_cast<int32_t>(item->link.size()), item->data.size(), item->reported,
                          static_cast<uint32_t>(item->data.size()),
                          reinterpret_cast<const uint8_t*>(item->data.data())};
  return 1;
}

int32_t WINAPI open_link_with_value(const wchar_t* link, uint64_t value) {
  note(38, "%s %llu", utf8(link).c_str(), static_cast<unsigned long long>(value));
  return 1;
}
// What a byte buffer holds after a read.
const char* contents(const std::string& buffer) {
  auto all = [&buffer](char c) { return buffer.find_first_not_of(c) == std::string::npos; };
  if (all('\xcc')) return "untouched";
  if (all('\0')) return "zeros";
  if (all('\x5a')) return "all 5a";
  return "mixed";
}

// The text a client answering "text:item" gives for `item`.
std::string text_for_item(int32_t item) {
  std::string text;
  for (uint32_t i = 0; i <= static_cast<uint32_t>(item) % 64; ++i) text += "item-" + std::to_string(item) + ";";
  return text;
}

// One of two threads asking call_client_1 about their own items at once:
// each answer must stay its own until the same thread asks again.
DWORD WINAPI ask_text_repeatedly(void* data) {
  const auto item = static_cast<int32_t>(reinterpret_cast<intptr_t>(data));
  const std::string expected = text_for_item(item);
  int mismatches = 0;
  for (int round = 0; round < 200; ++round) {
    const char* text = nullptr;
    int32_t length = 0;
    if (g_call_client_1(item, &text, &length, nullptr, nullptr) != 1 || text == nullptr ||
        std::string(text, static_cast<size_t>(length)) != expected) {
      ++mismatches;
    }
    ::Sleep(0);
    if (text != nullptr && std::string(text) != expected) ++mismatches;  // still its own after a pause
  }
  note(-2, "5 item=%d mismatches=%d", item, mismatches);
  return 0;
}

// The action slot 39 sets off; the host's callbacks block until the client
// answers, so it runs on a thread of its own.
DWORD WINAPI act(void*) {
  const int32_t item = static_cast<int32_t>(control("act_item", 0));
  switch (control("act", 0)) {
    case 2: {
      const long length = control("act_text", 0);
      const std::string text(length < 0 ? 0 : static_cast<size_t>(length), 'x');
      uint64_t value = 7;
      int32_t number = 7;
      const int32_t r = g_call_client_0(item, length < 0 ? nullptr : text.c_str(), &value, &number);
      note(-2, "0 r=%d v=%llu n=%d", r, static_cast<unsigned long long>(value), number);
      break;
    }
    case 3: {
      const char* text = nullptr;
      int32_t length = -1, first = -1, second = -1;
      const int32_t r = g_call_client_1(item, &text, &length, &first, &second);
      note(-2, "1 r=%d text=%s len=%d a=%d b=%d", r, text != nullptr ? std::string(text, length).c_str() : "(null)",
           length, first, second);
      break;
    }
    case 4: {
      const uint32_t size = static_cast<uint32_t>(control("act_size", 0));
      std::string buffer(size, '\xcc');
      const int32_t r = g_read_client_data(item, buffer.data(), static_cast<uint64_t>(control("act_offset", 0)), size);
      note(-2, "2 r=%d %s", r, contents(buffer));
      break;
    }
    case 6: {
      // A thread the library never stops: it reads for as long as the host
      // answers, and ends at the first refusal.
      std::string buffer(16, '\xcc');
      long reads = 0;
      while (reads < 1000000 && g_read_client_data(item, buffer.data(), 0, 16) == 1) ++reads;
      note(-2, "6 stopped after %ld reads", reads);
      break;
    }
    case 5: {
      HANDLE askers[2];
      for (int i = 0; i < 2; ++i) {
        askers[i] = ::CreateThread(nullptr, 0, ask_text_repeatedly,
                                   reinterpret_cast<void*>(static_cast<intptr_t>(item + i)), 0, nullptr);
      }
      ::WaitForMultipleObjects(2, askers, TRUE, INFINITE);
      for (HANDLE asker : askers) ::CloseHandle(asker);
      break;
    }
  }
  return 0;
}

int32_t WINAPI method_8() {
  note(39);
  const long action = control("act", 0);
  if (action == 1 && g_sink != nullptr) {
    ::PostMessageW(g_sink, kPluginEventMessage, static_cast<WPARAM>(control("act_item", 0)),
                   static_cast<LPARAM>(control("act_event", 0)));
  } else if (action >= 2 && action <= 6 && g_call_client_0 != nullptr) {
    if (const HANDLE thread = ::CreateThread(nullptr, 0, act, nullptr, 0, nullptr)) ::CloseHandle(thread);
  }
  return 1;
}
int32_t WINAPI not_connected() { note(40); return 1; }

int32_t WINAPI list_header(List_Header* header) {
  note(41);
  *header = List_Header{1, static_cast<uint32_t>(control("list", static_cast<long>(g_items.size()))), 3, 4};
  return 1;
}

int32_t WINAPI list_item(uint32_t index, List_Item* item) {
  note(42, "%u", index);
  if (control("list_fail_at", -1) == static_cast<long>(index)) return 0;
  // Valid until the next call, as the host copies the texts at once.
  static std::wstring name;
  static std::wstring hash;
  auto it = g_items.begin();
  for (uint32_t i = 0; i < index && it != g_items.end(); ++i) ++it;
  name = it == g_items.end() ? L"sample item " + std::to_wstring(index) : it->second.link;
  hash = std::wstring(L"00112233445566778899AABBCCDDEEFF").substr(0, 32);
  hash.resize(static_cast<size_t>(control("hash_length", 32)), L'F');
  *item = List_Item{name.c_str(), 1000u + index, index, 2 * index, hash.c_str()};
  return 1;
}

}  // namespace

// The export with ordinal 1 (see the .def file): fills the 43 slots.
extern "C" void WINAPI drovan_fill_table(Plugin_Function_Table* table) {
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
  table->chunk_info = chunk_info;
  table->chunk_read = chunk_read;
  table->remove = remove_item;
  table->item_values = item_values;
  table->read_block = read_block;
  table->item_details = item_details;
  table->last_chunk_info = last_chunk_info;
  table->last_chunk_read = last_chunk_read;
  table->open_link_with_value = open_link_with_value;
  table->method_8 = method_8;
  table->not_connected = not_connected;
  table->list_header = list_header;
  table->list_item = list_item;
  if (control("clobber_module", 0) != 0) table->module = reinterpret_cast<HMODULE>(0x1234);
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = module;
    ::InitializeCriticalSection(&g_attach_lock);
  } else if (reason == DLL_THREAD_ATTACH) {
    ::EnterCriticalSection(&g_attach_lock);
    ::LeaveCriticalSection(&g_attach_lock);
  }
  return TRUE;
}
