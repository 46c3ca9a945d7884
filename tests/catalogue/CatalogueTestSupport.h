#pragma once
// Helpers for the catalogue tests: files as bytes, recorded message boxes.

#include "ui/MessageBox.h"

#include <QString>
#include <QStringList>
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

// Records message boxes instead of showing them, while it lives.
class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;
    QStringList Texts() const;
    std::vector<MessageBoxRequest> boxes;
};

} // namespace didira::test
