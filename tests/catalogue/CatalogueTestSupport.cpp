#include "CatalogueTestSupport.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <fstream>
#include <iconv.h>
#include <sstream>
#include <stdexcept>

namespace didira::test {

std::string TempPath(const char* name) {
    return QFile::encodeName(TempDir()).toStdString() + "/" + name;
}

void WriteBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    return QFileInfo::exists(QFile::decodeName(path.c_str()));
}

std::vector<std::string> DirEntries(const std::string& dir) {
    std::vector<std::string> names;
    for (const QString& name :
         QDir(QFile::decodeName(dir.c_str()))
             .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        names.push_back(QFile::encodeName(name).toStdString());
    return names;
}

std::string Cp932(std::string_view utf8) {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    std::string out(utf8.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    const std::size_t rc = iconv(cd, &in, &inLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1))
        throw std::runtime_error("not CP932 text");
    out.resize(out.size() - dstLeft);
    return out;
}

} // namespace didira::test
