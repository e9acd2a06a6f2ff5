#pragma once
// Where the Windows dialog learns of another image: the Open dialog behind
// the system menu's item, and a file or folder dropped on the window.

#include <windows.h>
// Needs the types of windows.h.
#include <shellapi.h>

#include <string>

namespace voltrix {

// The text of a string-table entry; empty when there is none.
std::wstring loadText(HINSTANCE instance, UINT id);

// The image the operator picks in the standard Open dialog (the string
// IDS_IMAGE_FILTER names the file types); empty when cancelled. The working
// folder, which holds the run folders, stays as it is.
std::wstring askForImage(HINSTANCE instance, HWND owner);

// The first name dropped; empty when none. Ends the drop.
std::wstring takeFirstDroppedName(HDROP drop);

// The image a chosen name stands for, as a full path: a folder means the
// sysbin.bin in it.
std::wstring imageNamedBy(const std::wstring& name);

}  // namespace voltrix
