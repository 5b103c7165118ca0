#include "tests/players/fake_wmp_core.h"

#include "rtl/win32/comptr.h"

void SetFakeErrorInfo(const std::wstring& description, REFIID iid) {
    TComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.put())) || !create) return;
    create->SetGUID(iid);
    create->SetSource(const_cast<LPOLESTR>(L"FakeWmp"));
    create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    TComPtr<IErrorInfo> info;
    if (create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.put())) == S_OK)
        SetErrorInfo(0, info.get());
}

TFakeWmpCore::TFakeWmpCore(int driveCount) : TFakeObject(State, "") {
    std::vector<TFakeWmpCdrom*> drives;
    for (int i = 0; i < driveCount; ++i) {
        Drives.push_back(std::make_unique<TFakeWmpCdrom>(State, i));
        drives.push_back(Drives.back().get());
    }
    Cdroms = std::make_unique<TFakeWmpCdromCollection>(State, std::move(drives));
}

ULONG TFakeWmpCore::SubObjectRefs() const {
    ULONG refs = Controls.Refs() + Settings.Refs() + Cdroms->Refs();
    for (const auto& drive : Drives) refs += drive->Refs();
    return refs;
}

namespace {
template <class I>
HRESULT HandOut(TFakeObject<I>& object, I** out) {
    *out = object.Interface();
    object.AddRef();
    return S_OK;
}
}  // namespace

HRESULT TFakeWmpCore::get_playState(WMPPlayState* out) {
    return Call("playState", [&] {
        *out = State.PlayState;
        return S_OK;
    });
}

HRESULT TFakeWmpCore::get_controls(IWMPControls** out) {
    *out = nullptr;
    return Call("controls", [&] { return HandOut<IWMPControls>(Controls, out); });
}

HRESULT TFakeWmpCore::get_settings(IWMPSettings** out) {
    *out = nullptr;
    return Call("settings", [&] { return HandOut<IWMPSettings>(Settings, out); });
}

HRESULT TFakeWmpCore::get_cdromCollection(IWMPCdromCollection** out) {
    *out = nullptr;
    return Call("cdromCollection", [&] { return HandOut<IWMPCdromCollection>(*Cdroms, out); });
}
