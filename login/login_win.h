// The sign-in window's WebView2 navigation handler (Windows only).
#pragma once

#include <windows.h>

#include <WebView2.h>

#include <atomic>
#include <functional>
#include <string>

// Asks its decision about every navigation start of the window it is
// registered on and cancels the navigation when the answer is true.
// Reference counted; made with one reference, freed at the last Release.
class NavHandler final : public ICoreWebView2NavigationStartingEventHandler {
public:
    using decision_fn = std::function<bool(const std::wstring& address)>;
    explicit NavHandler(decision_fn decide) : decide_(std::move(decide)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // Always S_OK; the sender is not used.
    HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, ICoreWebView2NavigationStartingEventArgs* args) override;

private:
    ~NavHandler() = default;

    std::atomic<ULONG> refs_{1};
    decision_fn decide_;
};
