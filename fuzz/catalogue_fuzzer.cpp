// Fuzzes the whole read of a text catalogue: the file as bytes, the split
// into cells, the shape checks, decoding, and the backup beside it.
#include "catalogue/CatalogueRead.h"
#include "catalogue/TextCodec.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

// A private directory for the file and its backup, removed at exit; in
// memory when /dev/shm exists, so that the backup's sync costs nothing.
// Plain storage, so that it outlives every exit handler.
char g_dir[64];

void RemoveDir() {
    const std::string base = std::string(g_dir) + "/radioname.csv";
    ::unlink(base.c_str());
    ::unlink((base + ".bak").c_str());
    ::rmdir(g_dir);
}

const char* Dir() {
    static const bool made = [] {
        for (const char* parent : {"/dev/shm", "/tmp"}) {
            std::snprintf(g_dir, sizeof g_dir, "%s/didira-catalogue-fuzz-XXXXXX", parent);
            if (::mkdtemp(g_dir) != nullptr) {
                std::atexit(RemoveDir);
                return true;
            }
        }
        std::abort();
    }();
    (void)made;
    return g_dir;
}

// What the backup must hold: every line as read, each ended by CR LF.
std::string ExpectedBackup(const std::string& data) {
    std::string out;
    std::size_t start = 0;
    while (start < data.size()) {
        const std::size_t lf = data.find('\n', start);
        std::string line = data.substr(start, lf == std::string::npos ? lf : lf - start);
        if (lf != std::string::npos && !line.empty() && line.back() == '\r')
            line.pop_back();
        out += line + "\r\n";
        if (lf == std::string::npos)
            break;
        start = lf + 1;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = std::string(Dir()) + "/radioname.csv";
    const std::string backup = path + ".bak";
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    ::unlink(backup.c_str());

    const didira::CatalogueRead read = didira::ReadCatalogue(path);
    if (read.status == didira::CatalogueRead::Status::Loaded) {
        if (read.rows.size() > static_cast<std::size_t>(didira::kCatalogueMaxRows))
            std::abort();
        for (const auto& row : read.rows) {
            if (row.empty() || row.size() > static_cast<std::size_t>(didira::kCatalogueColumns))
                std::abort();
            for (const std::string& cell : row)
                if (!didira::IsValidUtf8(cell))
                    std::abort();
        }
    } else if (read.status != didira::CatalogueRead::Status::BadColumns &&
               read.status != didira::CatalogueRead::Status::TooManyRows) {
        std::abort();
    }

    std::ifstream in(backup, std::ios::binary);
    if (bytes.empty()) {
        if (in)
            std::abort(); // an empty file has no column, so no backup
    } else {
        std::ostringstream written;
        written << in.rdbuf();
        if (written.str() != ExpectedBackup(bytes))
            std::abort();
    }
    return 0;
}
