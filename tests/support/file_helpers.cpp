#include "support/file_helpers.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "app/helpers.h"

namespace fs = std::filesystem;

void put(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

std::string get(const fs::path& p) {
    bool ok = false;
    std::string s = load_file_contents(p, ok);
    return ok ? s : "<missing>";
}

std::string read_all(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> out;
    for (auto& e : fs::directory_iterator(dir)) out.push_back(path_to_utf8(e.path().filename()));
    std::sort(out.begin(), out.end());
    return out;
}

json args(std::initializer_list<json> items) { return json(items); }
