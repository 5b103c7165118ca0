#include "rtl/win32/olecheck.h"

#include <oleauto.h>

#include "rtl/format.h"
#include "rtl/win32/comptr.h"

namespace {
void TrimRight(std::string& text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
}

struct TBstr {
    BSTR value = nullptr;
    ~TBstr() { SysFreeString(value); }
};

// In the ANSI code page, as the rest of the error texts and the message box.
std::string Narrow(BSTR text) {
    const int length = static_cast<int>(SysStringLen(text));
    if (length == 0) return {};
    const int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, length, result.data(), size, nullptr, nullptr);
    return result;
}

// Only an object that vouches for the interface may be taken at its word: the
// thread's error information could otherwise be left over from another call.
std::string DescriptionFrom(IUnknown* object, REFIID iid) {
    if (!object) return {};
    TComPtr<ISupportErrorInfo> support;
    if (object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(support.put())) != S_OK || !support)
        return {};
    if (support->InterfaceSupportsErrorInfo(iid) != S_OK) return {};
    TComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) return {};
    TBstr description;
    if (FAILED(info->GetDescription(&description.value))) return {};
    std::string text = Narrow(description.value);
    TrimRight(text);
    return text;
}

std::string SystemText(HRESULT hr) {
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(hr), 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    std::string text(buffer ? buffer : "", buffer ? length : 0);
    if (buffer) LocalFree(buffer);
    TrimRight(text);
    return text;
}
}  // namespace

std::string OleErrorText(HRESULT hr, IUnknown* object, REFIID iid) {
    std::string text = DescriptionFrom(object, iid);
    if (text.empty()) text = SystemText(hr);
    if (text.empty()) text = Format("OLE error %.8lX", static_cast<unsigned long>(hr));
    return text;
}

void OleCheck(HRESULT hr, IUnknown* object, REFIID iid) {
    if (FAILED(hr)) throw EOleException(OleErrorText(hr, object, iid), hr);
}

void OleCheck(HRESULT hr) {
    if (FAILED(hr)) throw EOleException(OleErrorText(hr, nullptr, GUID_NULL), hr);
}
