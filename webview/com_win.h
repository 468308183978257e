// Small COM helpers for the WebView2 engine: an owning interface pointer and
// a completion or event handler backed by a function.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <functional>
#include <utility>

namespace webview {

// Holds one reference.
template <class T>
class com_ptr {
public:
    com_ptr() = default;
    // Takes over a reference the caller already holds.
    static com_ptr adopt(T* p) {
        com_ptr c;
        c.p_ = p;
        return c;
    }
    com_ptr(const com_ptr& o) : p_(o.p_) {
        if (p_) p_->AddRef();
    }
    com_ptr(com_ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    com_ptr& operator=(com_ptr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~com_ptr() { reset(); }

    void reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    // For out parameters: drops what is held first.
    T** put() {
        reset();
        return &p_;
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

// One COM object implementing interface I (and IUnknown), made with one
// reference; freed by its last Release.
template <class I>
class com_object : public I {
public:
    explicit com_object(const IID& iid) : iid_(iid) {}
    virtual ~com_object() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, iid_)) {
            *out = static_cast<I*>(this);
            this->AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

private:
    const IID iid_;
    std::atomic<ULONG> refs_{1};
};

// A handler interface I (one Invoke taking two arguments) that calls a
// function. Made with one reference, which the maker passes on or drops.
template <class I, class A, class B>
class callback final : public com_object<I> {
public:
    using fn = std::function<HRESULT(A, B)>;

    static com_ptr<I> make(const IID& iid, fn f) { return com_ptr<I>::adopt(new callback(iid, std::move(f))); }

    // Nothing may unwind into WebView2's own frames.
    HRESULT STDMETHODCALLTYPE Invoke(A a, B b) override {
        try {
            return f_ ? f_(a, b) : S_OK;
        } catch (...) {
            return E_UNEXPECTED;
        }
    }

private:
    callback(const IID& iid, fn f) : com_object<I>(iid), f_(std::move(f)) {}

    fn f_;
};

}  // namespace webview
