#pragma once
// The Windows Media Player UI plug-in: class TWMPPlugin1, the coclass CoWMPPlugin of the
// type library, a background plug-in without a window of its own. Every object shares the
// plug-in's one engine (HidProcessorWmp). The class factory and the four exports of the
// in-process server are in uWMPPlugin.cpp.
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <atomic>

#include "hosts/wmp/kwhid_wmp_TLB.h"

// The programmatic identifier: the type library's name, a full stop, the coclass name.
// Also the source of the error information the methods leave.
inline constexpr wchar_t PluginProgId[] = L"kwhid_wmp.CoWMPPlugin";

// Shown, and left as the error information of SetCore, when the engine cannot be made.
inline constexpr char NotInitializedText[] = "HID Processor class is not initialized.";

// Single-threaded: COM calls it on the player's UI thread only.
class TWMPPlugin1 final : public IWMPPluginUI, public ISupportErrorInfo, public IProvideClassInfo {
public:
    TWMPPlugin1() noexcept;
    ~TWMPPlugin1();
    TWMPPlugin1(const TWMPPlugin1&) = delete;
    TWMPPlugin1& operator=(const TWMPPlugin1&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IWMPPluginUI
    HRESULT STDMETHODCALLTYPE SetCore(IWMPCore* pCore) override;
    HRESULT STDMETHODCALLTYPE Create(HWND hwndParent, HWND* phwndWindow) override;
    HRESULT STDMETHODCALLTYPE Destroy() override;
    HRESULT STDMETHODCALLTYPE DisplayPropertyPage(HWND hwndParent) override;
    HRESULT STDMETHODCALLTYPE GetProperty(const WCHAR* pwszName, VARIANT* pvarProperty) override;
    HRESULT STDMETHODCALLTYPE SetProperty(const WCHAR* pwszName, const VARIANT* pvarProperty) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG lpmsg) override;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

    // IProvideClassInfo
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;

private:
    std::atomic<ULONG> refs_{0};
};
