#include "crash/exception_names.h"

namespace Crash_Capture {

namespace {

struct Exception_Name {
  uint32_t code;
  const wchar_t* text;
};

// Searched in order.
constexpr Exception_Name kNames[] = {
    {0x40010005, L"a Control-C"},
    {0x40010008, L"a Control-Break"},
    {0x80000002, L"a Datatype Misalignment"},
    {0x80000003, L"a Breakpoint"},
    {0xC0000005, L"an Access Violation"},
    {0xC0000006, L"an In Page Error"},
    {0xC0000017, L"a No Memory"},
    {0xC000001D, L"an Illegal Instruction"},
    {0xC0000025, L"a Noncontinuable Exception"},
    {0xC0000026, L"an Invalid Disposition"},
    {0xC000008C, L"a Array Bounds Exceeded"},
    {0xC000008D, L"a Float Denormal Operand"},
    {0xC000008E, L"a Float Divide by Zero"},
    {0xC000008F, L"a Float Inexact Result"},
    {0xC0000090, L"a Float Invalid Operation"},
    {0xC0000091, L"a Float Overflow"},
    {0xC0000092, L"a Float Stack Check"},
    {0xC0000093, L"a Float Underflow"},
    {0xC0000094, L"an Integer Divide by Zero"},
    {0xC0000095, L"an Integer Overflow"},
    {0xC0000096, L"a Privileged Instruction"},
    {0xC00000FD, L"a Stack Overflow"},
    {0xC0000142, L"a DLL Initialization Failed"},
    {0xE06D7363, L"a Microsoft C++ Exception"},
};

}  // namespace

const wchar_t* describe_exception(uint32_t code) {
  for (const Exception_Name& name : kNames) {
    if (name.code == code) return name.text;
  }
  return L"an Unknown exception type";
}

}  // namespace Crash_Capture
