// Fixed facts of the page engine's runtime bootstrap that need no system
// calls: the two outside addresses and what a registered version means.
#pragma once

#include <string>
#include <string_view>

namespace wv2 {

// The only two outside hosts the bootstrap talks to; change them here.
inline constexpr std::wstring_view forward_link_host = L"go.microsoft.com";
inline constexpr std::wstring_view developer_site_host = L"developer.microsoft.com";

// The vendor's evergreen bootstrapper, reached over TLS.
std::wstring bootstrapper_url();
// The page from which the user can install the runtime by hand.
std::wstring manual_page_url();

// A registered version proves the runtime unless it is empty or the
// placeholder an aborted install leaves behind.
bool version_counts(std::wstring_view pv);

}  // namespace wv2
