// The contract between the plug-in host and plugin_Drovan.dll, readable on
// its own by a plug-in author.
//
// The library lies beside the host's executable and exports, by ordinal 1
// (not by name), one function that takes a pointer to the host's
// Plugin_Function_Table and fills its 43 slots. Every slot and every host
// callback uses the Win32 standard calling convention (WINAPI: the callee
// removes its arguments). The host calls the slots on its main thread; the
// library may call the host's callbacks from any thread, and posts its
// events as message 0x521 to the sink window the host hands to slot 25:
// the item id in wParam, the event code (0-8) in lParam.
//
// Layouts are given for the 32-bit build, the one that ships; the 64-bit
// build keeps the field order with 8-byte pointers (sizes asserted below).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace InterfaceDrovan {

// The export with ordinal 1.
struct Plugin_Function_Table;
using Fill_Function_Table_Fn = void(WINAPI*)(Plugin_Function_Table* table);
inline constexpr WORD kFillFunctionTableOrdinal = 1;

// Message the library posts to the sink window.
inline constexpr UINT kPluginEventMessage = 0x521;

// --- records ------------------------------------------------------------------

// Slot 0. Byte | Field
//   0 | 40 bytes of the value host and library agree on (kHandshakeValue)
//  40 | u16 16
#pragma pack(push, 1)
struct Handshake_Block {
  uint8_t agreed[40];
  uint16_t sixteen;
};
#pragma pack(pop)
static_assert(sizeof(Handshake_Block) == 42, "the handshake block is 42 bytes");

// The 40 bytes of this release's handshake: the text without its
// terminator.
inline constexpr char kHandshakeValue[41] = "Drovan plug-in host handshake, release 1";
static_assert(sizeof(kHandshakeValue) - 1 == sizeof(Handshake_Block::agreed), "40 bytes");

// Slot 17. Byte | Field
//   0 | i32 first setting value (0 at start-up)
//   4 | i32 second setting value (0 at start-up)
//   8 | u16 TCP port
//  10 | u16 UDP port
struct connection_setting_t {
  int32_t first_value;
  int32_t second_value;
  uint16_t tcp_port;
  uint16_t udp_port;
};
static_assert(sizeof(connection_setting_t) == 12, "connection settings are 12 bytes");

// Slot 10, as far as the host reads it. The library's record is 20 bytes
// or more; the host's is 256 bytes, room to spare for what the library
// writes past the fields the host reads.
// Byte | Field
//   0 | i32 number of active items
//  16 | u8 ready to add by link
//  17 | u8 ready to open by link
//  18 | u8 connected
struct Plugin_State {
  int32_t active_count;
  uint8_t reserved[12];
  uint8_t ready_to_add;
  uint8_t ready_to_open;
  uint8_t connected;
  uint8_t reserved_tail[237];
};
static_assert(offsetof(Plugin_State, ready_to_add) == 16 && offsetof(Plugin_State, connected) == 18 &&
                  sizeof(Plugin_State) == 256,
              "the state's flags are at 16, 17 and 18");

// Slots 15 and 29: the link to open or add.
struct Link_Record {
  const wchar_t* link;
};

// Slot 29's result: 256 bytes, room to spare past the field the host reads.
// Byte | Field
//  16 | i32 id of the new item
struct Add_Result {
  uint8_t reserved[16];
  int32_t item_id;
  uint8_t reserved_tail[236];
};
static_assert(offsetof(Add_Result, item_id) == 16, "the new item's id is at 16");

// Slot 35. Byte (32-bit) | Field
//   0 | i32 a     4 | i32 b     8 | u64 c     16 | u64 d
//  24 | u32 data length   28 | data pointer
// The host copies the data at once.
struct Item_Details {
  int32_t a;
  int32_t b;
  uint64_t c;
  uint64_t d;
  uint32_t data_length;
  const uint8_t* data;
};

// Slot 41. Four u32 values; the second is the number of list items.
struct List_Header {
  uint32_t first;
  uint32_t count;
  uint32_t third;
  uint32_t fourth;
};
static_assert(sizeof(List_Header) == 16, "the list header is 16 bytes");

// Slot 42. Byte (32-bit) | Field
//   0 | wide name pointer   8 | u64 value   16 | u32 first   20 | u32 second
//  24 | pointer to a wide string of 32 hexadecimal digits: a 16-byte hash
// The library fills 28 bytes; the host's record is padded to 32. The host
// copies the pointed-to texts at once.
struct List_Item {
  const wchar_t* name;
  uint64_t value;
  uint32_t first;
  uint32_t second;
  const wchar_t* hash_hex;
};

// --- the host's callbacks (handed to slot 25) ------------------------------------
// Once the host begins to unload the library, they answer at once as if the
// client had not answered; the host waits for the calls under way to
// return (up to 12 s), and a library that had a thread inside one, or that
// asks after slot 1, is not freed: that thread runs its code again. A
// library must end its own threads in slot 1.

// Asks the main client about an item with a text; out_value and
// out_number receive its answer (0 when there is none). Returns 1 when a
// text was given.
using Call_Client_0_Fn = int32_t(WINAPI*)(int32_t item_id, const char* text, uint64_t* out_value,
                                          int32_t* out_number);
// Asks the main client for an item's text and two numbers. The text stays
// valid until the same thread calls this callback again. Returns 1 on an
// answer.
using Call_Client_1_Fn = int32_t(WINAPI*)(int32_t item_id, const char** out_text, int32_t* out_length,
                                          int32_t* out_first, int32_t* out_second);
// Reads `size` bytes (at most 104,857,600) of an item's data at `offset`
// into `buffer`, zero-filled first. Returns 1 only when all arrived.
using Read_Client_Data_Fn = int32_t(WINAPI*)(int32_t item_id, void* buffer, uint64_t offset,
                                             uint32_t size);

// --- the slots the host calls --------------------------------------------------------
// Result: non-zero (or 1 where said) means success; "ignored" results may be
// anything.

using Slot_Handshake_Fn = int32_t(WINAPI*)(const Handshake_Block* block);            // 0: non-zero accepts
using Slot_Void_Fn = int32_t(WINAPI*)();                                             // 1, 2, 3, 39, 40
using Slot_State_Fn = int32_t(WINAPI*)(Plugin_State* state);                         // 10
using Slot_Open_Link_Fn = int32_t(WINAPI*)(const Link_Record* link, uint8_t result[16]);  // 15
using Slot_Event_Value_Fn = int32_t(WINAPI*)(uint32_t value, uint32_t* out);         // 16: ignored
using Slot_Connection_Fn = int32_t(WINAPI*)(const connection_setting_t* settings);   // 17: ignored
using Slot_Show_Fn = int32_t(WINAPI*)(uint8_t show);                                 // 24: ignored
using Slot_Callbacks_Fn = int32_t(WINAPI*)(HWND sink, Call_Client_0_Fn, Call_Client_1_Fn,
                                           Read_Client_Data_Fn);                     // 25: ignored
using Slot_Add_Link_Fn = int32_t(WINAPI*)(const Link_Record* link, Add_Result* result);  // 29
using Slot_Chunk_Info_Fn = int32_t(WINAPI*)(int32_t item_id, uint64_t* position,
                                            uint32_t* size);                         // 30, 33, 36
using Slot_Chunk_Read_Fn = int32_t(WINAPI*)(int32_t item_id, void* buffer, uint64_t position,
                                            uint32_t size);                          // 31, 37
using Slot_Remove_Fn = int32_t(WINAPI*)(int32_t item_id);                            // 32
using Slot_Block_Fn = int32_t(WINAPI*)(int32_t item_id, void* buffer, uint32_t capacity,
                                       uint32_t* size);                              // 34
using Slot_Details_Fn = int32_t(WINAPI*)(int32_t item_id, Item_Details* details);    // 35
using Slot_Open_Value_Fn = int32_t(WINAPI*)(const wchar_t* link, uint64_t value);    // 38: ignored
using Slot_List_Header_Fn = int32_t(WINAPI*)(List_Header* header);                   // 41
using Slot_List_Item_Fn = int32_t(WINAPI*)(uint32_t index, List_Item* item);        // 42

// The 43 slots in order, then the library's module handle, which the host
// keeps. The host allocates it zero-filled; the export fills the slots.
// Slots the host never calls (4-9, 11-14, 18-23, 26-28) are the library's.
struct Plugin_Function_Table {
  Slot_Handshake_Fn handshake;      // 0
  Slot_Void_Fn release;             // 1
  Slot_Void_Fn start;               // 2
  Slot_Void_Fn stop;                // 3
  void* unused_4_9[6];              // 4-9
  Slot_State_Fn get_state;          // 10
  void* unused_11_14[4];            // 11-14
  Slot_Open_Link_Fn open_link;      // 15
  Slot_Event_Value_Fn event_value;  // 16
  Slot_Connection_Fn set_connection;  // 17
  void* unused_18_23[6];            // 18-23
  Slot_Show_Fn show;                // 24
  Slot_Callbacks_Fn set_callbacks;  // 25
  void* unused_26_28[3];            // 26-28
  Slot_Add_Link_Fn add_link;        // 29
  Slot_Chunk_Info_Fn chunk_info;    // 30
  Slot_Chunk_Read_Fn chunk_read;    // 31
  Slot_Remove_Fn remove;            // 32
  Slot_Chunk_Info_Fn item_values;   // 33
  Slot_Block_Fn read_block;         // 34
  Slot_Details_Fn item_details;     // 35
  Slot_Chunk_Info_Fn last_chunk_info;  // 36
  Slot_Chunk_Read_Fn last_chunk_read;  // 37
  Slot_Open_Value_Fn open_link_with_value;  // 38
  Slot_Void_Fn method_8;            // 39
  Slot_Void_Fn not_connected;       // 40
  Slot_List_Header_Fn list_header;  // 41
  Slot_List_Item_Fn list_item;      // 42
  HMODULE module;                   // kept by the host
};

inline constexpr size_t kSlotCount = 43;

// The 32-bit layouts the shipped library relies on; the 64-bit build has
// the same order with 8-byte pointers.
#if defined(_WIN64)
static_assert(sizeof(Plugin_Function_Table) == 44 * 8, "43 slots and the module handle");
static_assert(sizeof(Item_Details) == 40 && offsetof(Item_Details, data) == 32, "slot 35's record");
static_assert(offsetof(List_Item, value) == 8 && offsetof(List_Item, hash_hex) == 24, "slot 42's item");
#else
static_assert(sizeof(Plugin_Function_Table) == 176, "43 slots and the module handle: 176 bytes");
static_assert(sizeof(Item_Details) == 32 && offsetof(Item_Details, data_length) == 24 &&
                  offsetof(Item_Details, data) == 28,
              "slot 35's record is 32 bytes, data length at 24, data at 28");
static_assert(offsetof(List_Item, value) == 8 && offsetof(List_Item, hash_hex) == 24 &&
                  offsetof(List_Item, hash_hex) + sizeof(void*) == 28,
              "slot 42's item: the library fills 28 bytes");
#endif
static_assert(offsetof(Plugin_Function_Table, get_state) == 10 * sizeof(void*) &&
                  offsetof(Plugin_Function_Table, open_link) == 15 * sizeof(void*) &&
                  offsetof(Plugin_Function_Table, show) == 24 * sizeof(void*) &&
                  offsetof(Plugin_Function_Table, add_link) == 29 * sizeof(void*) &&
                  offsetof(Plugin_Function_Table, list_item) == 42 * sizeof(void*) &&
                  offsetof(Plugin_Function_Table, module) == kSlotCount * sizeof(void*),
              "every slot at its index");

}  // namespace InterfaceDrovan
