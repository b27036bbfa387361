// Faultpost.exe: the crash reporter.
#include <windows.h>

#include "reporter/faultpost_app.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return Faultpost::CFaultpostApp().main(); }
