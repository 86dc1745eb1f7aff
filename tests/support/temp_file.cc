#include "tests/support/temp_file.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

temp_dir::temp_dir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tirvo-test-XXXXXX").string();
    if (mkdtemp(tmpl.data()))
        path = tmpl;
}

temp_dir::~temp_dir() {
    if (!path.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
}

bool write_file(const std::string &path, const std::string &data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(f);
}

FILE *text_as_file(const std::string &text) {
    FILE *f = std::tmpfile();
    if (!f)
        return nullptr;
    if (!text.empty() && std::fwrite(text.data(), text.size(), 1, f) != 1) {
        std::fclose(f);
        return nullptr;
    }
    std::rewind(f);
    return f;
}

std::string read_file(const std::string &path, bool *ok) {
    std::ifstream f(path, std::ios::binary);
    if (ok)
        *ok = static_cast<bool>(f);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}
