#include "wv2/bootstrap.h"

namespace wv2 {

std::wstring bootstrapper_url() {
    return L"https://" + std::wstring(forward_link_host) + L"/fwlink/p/?LinkId=2124703";
}

std::wstring manual_page_url() {
    return L"https://" + std::wstring(developer_site_host) + L"/microsoft-edge/webview2/";
}

bool version_counts(std::wstring_view pv) { return !pv.empty() && pv != L"0.0.0.0"; }

}  // namespace wv2
