#pragma once
// Options shared by the test programs built on the stand-in terminal. CMake passes them on the
// command line as --name=value.

#include <string>

// The value of --name=value, or empty. A Unix absolute path (as CMake writes them) comes back as
// the Windows path Wine gives it on drive Z:, so that the Windows side can open it.
std::wstring TestOption(const char* AName);
