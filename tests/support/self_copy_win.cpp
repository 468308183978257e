#include "support/self_copy_win.h"

#include <cstring>
#include <vector>

namespace {

#pragma pack(push, 2)
struct IconGroupHeader {
    WORD reserved, type, count;
};
struct IconGroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bit_count;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

constexpr int icon_side = 32;

std::vector<unsigned char> icon_image() {
    BITMAPINFOHEADER bih{};
    bih.biSize = sizeof(bih);
    bih.biWidth = icon_side;
    bih.biHeight = icon_side * 2;  // colour rows, then the mask rows
    bih.biPlanes = 1;
    bih.biBitCount = 32;
    bih.biCompression = BI_RGB;
    std::vector<unsigned char> data(sizeof(bih) + icon_side * icon_side * 4 + icon_side * 4, 0);
    std::memcpy(data.data(), &bih, sizeof(bih));
    for (size_t i = 0; i < static_cast<size_t>(icon_side * icon_side); ++i) {
        unsigned char* px = data.data() + sizeof(bih) + i * 4;
        px[0] = 0xC0, px[1] = 0x80, px[2] = 0x30, px[3] = 0xFF;
    }
    return data;
}

}  // namespace

std::wstring own_exe_path() {
    wchar_t buf[1040];
    DWORD n = GetModuleFileNameW(nullptr, buf, 1040);
    return n < 1040 ? std::wstring(buf, n) : std::wstring();
}

bool add_icon_resource(const std::wstring& exe) {
    std::vector<unsigned char> image = icon_image();
    IconGroupHeader header{0, 1, 1};
    IconGroupEntry entry{icon_side, icon_side, 0, 0, 1, 32, static_cast<DWORD>(image.size()), 1};
    std::vector<unsigned char> group(sizeof(header) + sizeof(entry));
    std::memcpy(group.data(), &header, sizeof(header));
    std::memcpy(group.data() + sizeof(header), &entry, sizeof(entry));

    HANDLE update = BeginUpdateResourceW(exe.c_str(), FALSE);
    if (!update) return false;
    WORD lang = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    bool ok = UpdateResourceW(update, RT_ICON, MAKEINTRESOURCEW(1), lang, image.data(),
                              static_cast<DWORD>(image.size())) &&
              UpdateResourceW(update, RT_GROUP_ICON, MAKEINTRESOURCEW(1), lang, group.data(),
                              static_cast<DWORD>(group.size()));
    return EndUpdateResourceW(update, ok ? FALSE : TRUE) && ok;
}

std::string icons_of(HWND h) {
    auto big = SendMessageW(h, WM_GETICON, ICON_BIG, 0);
    auto small = SendMessageW(h, WM_GETICON, ICON_SMALL, 0);
    std::string s = big ? "big" : "no-big";
    s += small ? " small" : " no-small";
    if (big && small) s += big == small ? " same" : " different";
    return s;
}

DWORD run_and_wait(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder) {
    std::wstring line = L"\"" + exe + L"\"";
    if (!arguments.empty()) line += L" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &si, &pi))
        return static_cast<DWORD>(-1);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code;
}
