#pragma once
// Helpers for the catalogue tests: files as bytes.

#include "support/TestSupport.h"
#include "ui/MessageBox.h"

#include <string>
#include <string_view>
#include <vector>

namespace didira::test {

// path/name in a fresh temporary directory, as file system bytes.
std::string TempPath(const char* name);
void WriteBytes(const std::string& path, std::string_view bytes);
std::string ReadBytes(const std::string& path);
bool Exists(const std::string& path);
// Names in the directory of path, other than "." and "..".
std::vector<std::string> DirEntries(const std::string& dir);
// UTF-8 text as CP932 bytes (fixtures are written in CP932).
std::string Cp932(std::string_view utf8);

// The dialog's message sink before its window exists: boxes without owner.
inline void ShowWithoutOwner(const QString& text) {
    ShowMessageBox(nullptr, text);
}

} // namespace didira::test
