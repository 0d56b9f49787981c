#pragma once
// Reading files on Windows, also beyond 260 characters. Standard C++ and the
// Windows API only, so that it builds and runs without Qt (and under Wine).

#include <string>
#include <vector>

namespace kobito {

// The form of a path that the Windows file functions take when it is longer
// than 260 characters: the full path behind "\\?\" ("\\?\UNC\" for a network
// path). Shorter paths and paths that already carry a prefix stay as they are.
std::wstring LongPathForm(const std::wstring& path);

// Reads the whole file, letting other programs read it but not write it
// meanwhile. Only a file on disk is read, and only if it holds at most
// maxBytes bytes (negative: any size); a device, a pipe or a larger file
// fails unread. On failure returns false with the system's error code.
bool ReadWholeFileShared(const std::wstring& path, long long maxBytes, std::string& bytes,
                         unsigned long& error);

// The system's folders for programs installed for every user of the machine
// (Program Files, and its 32-bit twin on 64-bit Windows), as the system
// names them; those it cannot tell are left out.
std::vector<std::wstring> PerMachineProgramFolders();

} // namespace kobito
