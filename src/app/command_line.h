#pragma once
#include <string>
#include <vector>

using ArgumentList = std::vector<std::wstring>;

// Splits the process command line (GetCommandLineW) into the list.
void SplitCommandLine(ArgumentList& arguments);
// The splitting itself: blanks are TAB, LF, VT, FF, CR and SPACE; a quoted
// token runs to the next quote and is trimmed; there are no escapes.
void SplitCommandLineText(const wchar_t* text, ArgumentList& arguments);
