#pragma once
// Where the dialog works when the operator named no folder or image. Started
// from the Start menu or by a double-click in Explorer, its working folder is
// the program's own folder, which the operator may not write to and where no
// image lies; it then works in Documents\Voltrix instead.

#include <string_view>

namespace voltrix {

// The name of the folder under the operator's Documents.
inline constexpr char kDocumentsWorkFolder[] = "Voltrix";

// Whether two folder names written the Windows way name the same folder: /
// and \ alike, trailing separators ignored, letters compared without case.
bool sameWindowsFolder(std::string_view a, std::string_view b);

// Whether the dialog moves to Documents\Voltrix: no folder or image named,
// started in the folder of its own program file, and no image lying there
// (a folder that holds one was made to work in, e.g. an unpacked copy).
bool worksInDocuments(bool imageNamed, std::string_view workingFolder,
                      std::string_view programFolder, bool imageInWorkingFolder);

}  // namespace voltrix
