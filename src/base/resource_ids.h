#pragma once

// Resource numbers shared by the program, its resource script and brand.exe.
#define IDR_SERVER_BASE 300  // RCDATA: the download server's base address, UTF-16 without terminator
