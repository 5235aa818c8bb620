#pragma once

// Installs the GDI and shell answers for CSomTextWnd.
void UseWin32SomTextServices();
