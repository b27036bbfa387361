// Resource ids of plugin_Drovan.exe.
#pragma once

#define IDD_PLUGIN_HOST 102
#define IDR_MAINFRAME 128
#define IDC_TEST_BUTTON 1000
