#pragma once

#include <string>

#include "stats/report_url.h"

// Queues one milestone report for the process's statistics manager, with the
// game key, the machine identifier and the program's version ("CompleteDownload"
// also with `peers`). Called on the UI thread.
void Report(const std::wstring& base, const std::wstring& action, const std::wstring& eventName, int tg, int cg,
            int cwdm, const PeerFigures& peers = PeerFigures());

// The machine identifier from the identity library packed into the program,
// kept for the process once known. Returns 1 with the identifier, 0 when it
// cannot be had (the next call tries again).
int GetMachineId(std::wstring& id);
