#include "process/command_line.h"

#include "app/helpers.h"

std::u16string build_command_line(const std::vector<std::string>& argv) {
    std::u16string line;
    bool first = true;
    for (const auto& item : argv) {
        std::u16string w = utf8_to_utf16(item);
        if (!first) line += u' ';
        first = false;
        if (!w.empty() && w.find_first_of(u" \t\n\v\"") == std::u16string::npos) {
            line += w;
            continue;
        }
        line += u'"';
        size_t backslashes = 0;
        for (char16_t c : w) {
            if (c == u'\\') {
                ++backslashes;
                continue;
            }
            if (c == u'"') {
                line.append(backslashes * 2 + 1, u'\\');
            } else {
                line.append(backslashes, u'\\');
            }
            line += c;
            backslashes = 0;
        }
        line.append(backslashes * 2, u'\\');
        line += u'"';
    }
    return line;
}
