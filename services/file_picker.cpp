#include "services/file_picker.h"

#include <cctype>

PickerRequest picker_request(const json& args) {
    PickerRequest r;
    r.title = arg_string(args, 0, r.title);
    r.filter_name = arg_string(args, 1, r.filter_name);
    r.pattern = arg_string(args, 2, r.pattern);
    r.multiple = arg_bool(args, r.multiple);
    return r;
}

std::vector<std::string> picker_globs(const std::string& pattern) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t end = pattern.find(';', start);
        std::string one = pattern.substr(start, end == std::string::npos ? std::string::npos : end - start);
        size_t b = one.find_first_not_of(' ');
        size_t e = one.find_last_not_of(' ');
        one = b == std::string::npos ? std::string() : one.substr(b, e - b + 1);
        if (!one.empty()) {
            // "*.*" matches names without a dot too.
            if (one == "*.*") one = "*";
            std::string glob;
            for (char c : one) {
                unsigned char u = static_cast<unsigned char>(c);
                if (std::isalpha(u) && u < 0x80) {
                    glob += '[';
                    glob += static_cast<char>(std::tolower(u));
                    glob += static_cast<char>(std::toupper(u));
                    glob += ']';
                } else if (c == '[') {
                    glob += "[[]";  // literal on Windows
                } else {
                    glob += c;
                }
            }
            out.push_back(glob);
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}
