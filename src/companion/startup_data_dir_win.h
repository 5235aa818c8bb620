#pragma once

#include <windows.h>

// Makes sure the data directory named by "dpath.ini" beside the program
// (section "main", key "datapath"; default: the program's own directory) exists.
void PrepareStartupDataDirectory(HINSTANCE instance);
