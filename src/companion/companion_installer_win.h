#pragma once

#include <string>

// Starts the protection tool's installer silently ("/S", hidden, from its own
// folder) on a short-lived worker thread and returns at once. Nothing happens
// when no file is at `installerPath`. The program neither waits for the
// installer nor looks at its result, and leaves the file where it is.
void RunCompanionInstallerSilently(const std::wstring& installerPath, const std::wstring& expectedMd5);
