#pragma once
// What the type library of kwhid_wmp.idl describes, for C++: the library and class
// identifiers and the player's UI plug-in interface, which MinGW does not declare.
// Keep in step with kwhid_wmp.idl.
#include <windows.h>
#include <oaidl.h>
#include <wmp.h>

// The type library: name kwhid_wmp, version 1.0, locale 0x0409.
inline constexpr GUID LIBID_kwhid_wmp = {0xE1792B4A, 0x6B58, 0x44E4, {0x9F, 0xB4, 0x1C, 0x9B, 0x98, 0x5A, 0x52, 0x9D}};
inline constexpr WORD kwhid_wmpMajorVersion = 1;
inline constexpr WORD kwhid_wmpMinorVersion = 0;
inline constexpr LCID kwhid_wmpLcid = 0x0409;

// The coclass CoWMPPlugin.
inline constexpr CLSID CLSID_CoWMPPlugin = {0x3BFA5C62, 0x7C79, 0x49C5, {0xB3, 0x47, 0xAF, 0xED, 0x32, 0xDF, 0x37, 0x90}};

// The player's published identifier.
inline constexpr IID IID_IWMPPluginUI = {0x4C5E8F9F, 0xAD3E, 0x4BF9, {0x97, 0x53, 0xFC, 0xD3, 0x0D, 0x6D, 0x38, 0xDD}};

// Called by the player on its UI thread, in the main single-threaded apartment.
struct IWMPPluginUI : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetCore(IWMPCore* pCore) = 0;
    virtual HRESULT STDMETHODCALLTYPE Create(HWND hwndParent, HWND* phwndWindow) = 0;
    virtual HRESULT STDMETHODCALLTYPE Destroy() = 0;
    virtual HRESULT STDMETHODCALLTYPE DisplayPropertyPage(HWND hwndParent) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProperty(const WCHAR* pwszName, VARIANT* pvarProperty) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProperty(const WCHAR* pwszName, const VARIANT* pvarProperty) = 0;
    // windows.h renames this one to TranslateAcceleratorA or W; only its slot matters.
    virtual HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG lpmsg) = 0;
};
__CRT_UUID_DECL(IWMPPluginUI, 0x4C5E8F9F, 0xAD3E, 0x4BF9, 0x97, 0x53, 0xFC, 0xD3, 0x0D, 0x6D, 0x38, 0xDD)
