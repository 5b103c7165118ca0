#pragma once
// A player core of our own for the adapter's tests: a core with its controls,
// settings, CD-ROM collection and drives. Every call made on them goes into one
// log in order; any call can be made to fail with a chosen result; every object
// counts its references, so a test can see what is still held.
//
// The objects belong to the test, not to their references: a count of 0 means
// "nobody holds it", nothing is freed. Calls the adapter is not meant to make
// are logged too (as "core.get_URL" and the like) and answer E_NOTIMPL.
#include <windows.h>
#include <oleauto.h>
#include <wmp.h>

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct TFakeWmpState {
    std::vector<std::string> Log;
    // Log entry -> the result that call returns instead of doing its work.
    std::map<std::string, HRESULT> Failures;
    // Non-empty: every object answers ISupportErrorInfo for its own interface
    // and a failing call leaves an IErrorInfo with this description.
    std::wstring ErrorDescription;
    bool OverReleased = false;

    WMPPlayState PlayState = wmppsStopped;
    LONG Volume = 50;
    VARIANT_BOOL Mute = VARIANT_FALSE;
};

// Leaves the thread's error information as a failing automation object would.
void SetFakeErrorInfo(const std::wstring& description, REFIID iid);

// IUnknown, IDispatch and ISupportErrorInfo for one fake object of interface I.
template <class I>
class TFakeObject : public I, public ISupportErrorInfo {
public:
    TFakeObject(TFakeWmpState& state, std::string name) : state_(state), name_(std::move(name)) {}
    virtual ~TFakeObject() = default;
    TFakeObject(const TFakeObject&) = delete;
    TFakeObject& operator=(const TFakeObject&) = delete;

    I* Interface() { return static_cast<I*>(this); }
    ULONG Refs() const { return refs_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == __uuidof(I))
            *out = static_cast<I*>(this);
        else if (iid == IID_ISupportErrorInfo && !state_.ErrorDescription.empty())
            *out = static_cast<ISupportErrorInfo*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        if (refs_ == 0) {
            state_.OverReleased = true;
            return 0;
        }
        return --refs_;
    }

    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
        return iid == __uuidof(I) ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return Unexpected("GetTypeInfoCount", count); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        return Unexpected("GetTypeInfo", info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return Unexpected("GetIDsOfNames");
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return Unexpected("Invoke");
    }

protected:
    // Logs "name.call" (or "name.call(argument)") and runs body unless the test made
    // that call fail. Nothing thrown here may leave the COM method.
    template <class F>
    HRESULT Call(const char* call, F&& body) {
        return Logged([&] { return Entry(call); }, std::forward<F>(body));
    }
    template <class F>
    HRESULT Call(const char* call, long argument, F&& body) {
        return Logged([&] { return Entry(call) + "(" + std::to_string(argument) + ")"; }, std::forward<F>(body));
    }
    template <class Name, class F>
    HRESULT Logged(Name&& name, F&& body) noexcept {
        try {
            const std::string entry = name();
            state_.Log.push_back(entry);
            if (auto failure = state_.Failures.find(entry); failure != state_.Failures.end()) {
                if (!state_.ErrorDescription.empty()) SetFakeErrorInfo(state_.ErrorDescription, __uuidof(I));
                return failure->second;
            }
            return body();
        } catch (...) {
            return E_UNEXPECTED;
        }
    }
    template <class... Out>
    HRESULT Unexpected(const char* call, Out*... out) noexcept {
        ((out ? void(*out = {}) : void()), ...);
        try {
            state_.Log.push_back((name_.empty() ? std::string("core") : name_) + "." + call);
        } catch (...) {
        }
        return E_NOTIMPL;
    }

    TFakeWmpState& state_;

private:
    std::string Entry(const char* call) const { return name_.empty() ? call : name_ + "." + call; }

    std::string name_;
    ULONG refs_ = 0;
};

class TFakeWmpControls final : public TFakeObject<IWMPControls> {
public:
    explicit TFakeWmpControls(TFakeWmpState& state) : TFakeObject(state, "controls") {}

    HRESULT STDMETHODCALLTYPE play() override { return Call("play", [] { return S_OK; }); }
    HRESULT STDMETHODCALLTYPE stop() override { return Call("stop", [] { return S_OK; }); }
    HRESULT STDMETHODCALLTYPE pause() override { return Call("pause", [] { return S_OK; }); }
    HRESULT STDMETHODCALLTYPE fastForward() override { return Call("fastForward", [] { return S_OK; }); }
    HRESULT STDMETHODCALLTYPE fastReverse() override { return Call("fastReverse", [] { return S_OK; }); }
    HRESULT STDMETHODCALLTYPE next() override { return Call("next", [] { return S_OK; }); }
    HRESULT STDMETHODCALLTYPE previous() override { return Call("previous", [] { return S_OK; }); }

    HRESULT STDMETHODCALLTYPE get_isAvailable(BSTR, VARIANT_BOOL* out) override {
        return Unexpected("get_isAvailable", out);
    }
    HRESULT STDMETHODCALLTYPE get_currentPosition(double* out) override {
        return Unexpected("get_currentPosition", out);
    }
    HRESULT STDMETHODCALLTYPE put_currentPosition(double) override { return Unexpected("put_currentPosition"); }
    HRESULT STDMETHODCALLTYPE get_currentPositionString(BSTR* out) override {
        return Unexpected("get_currentPositionString", out);
    }
    HRESULT STDMETHODCALLTYPE currentItem(IWMPMedia** out) override { return Unexpected("currentItem", out); }
    HRESULT STDMETHODCALLTYPE put_currentItem(IWMPMedia*) override { return Unexpected("put_currentItem"); }
    HRESULT STDMETHODCALLTYPE get_currentMarker(LONG* out) override { return Unexpected("get_currentMarker", out); }
    HRESULT STDMETHODCALLTYPE put_currentMarker(LONG) override { return Unexpected("put_currentMarker"); }
    HRESULT STDMETHODCALLTYPE playItem(IWMPMedia*) override { return Unexpected("playItem"); }
};

class TFakeWmpSettings final : public TFakeObject<IWMPSettings> {
public:
    explicit TFakeWmpSettings(TFakeWmpState& state) : TFakeObject(state, "settings") {}

    HRESULT STDMETHODCALLTYPE get_volume(LONG* out) override {
        return Call("get_volume", [&] {
            *out = state_.Volume;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE put_volume(LONG value) override {
        return Call("put_volume", value, [&] {
            state_.Volume = value;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_mute(VARIANT_BOOL* out) override {
        return Call("get_mute", [&] {
            *out = state_.Mute;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE put_mute(VARIANT_BOOL value) override {
        return Call("put_mute", value, [&] {
            state_.Mute = value;
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE get_isAvailable(BSTR, VARIANT_BOOL* out) override {
        return Unexpected("get_isAvailable", out);
    }
    HRESULT STDMETHODCALLTYPE get_autoStart(VARIANT_BOOL* out) override { return Unexpected("get_autoStart", out); }
    HRESULT STDMETHODCALLTYPE put_autoStart(VARIANT_BOOL) override { return Unexpected("put_autoStart"); }
    HRESULT STDMETHODCALLTYPE get_baseURL(BSTR* out) override { return Unexpected("get_baseURL", out); }
    HRESULT STDMETHODCALLTYPE put_baseURL(BSTR) override { return Unexpected("put_baseURL"); }
    HRESULT STDMETHODCALLTYPE get_defaultFrame(BSTR* out) override { return Unexpected("get_defaultFrame", out); }
    HRESULT STDMETHODCALLTYPE put_defaultFrame(BSTR) override { return Unexpected("put_defaultFrame"); }
    HRESULT STDMETHODCALLTYPE get_invokeURLs(VARIANT_BOOL* out) override { return Unexpected("get_invokeURLs", out); }
    HRESULT STDMETHODCALLTYPE put_invokeURLs(VARIANT_BOOL) override { return Unexpected("put_invokeURLs"); }
    HRESULT STDMETHODCALLTYPE get_playCount(LONG* out) override { return Unexpected("get_playCount", out); }
    HRESULT STDMETHODCALLTYPE put_playCount(LONG) override { return Unexpected("put_playCount"); }
    HRESULT STDMETHODCALLTYPE get_rate(double* out) override { return Unexpected("get_rate", out); }
    HRESULT STDMETHODCALLTYPE put_rate(double) override { return Unexpected("put_rate"); }
    HRESULT STDMETHODCALLTYPE get_balance(LONG* out) override { return Unexpected("get_balance", out); }
    HRESULT STDMETHODCALLTYPE put_balance(LONG) override { return Unexpected("put_balance"); }
    HRESULT STDMETHODCALLTYPE getMode(BSTR, VARIANT_BOOL* out) override { return Unexpected("getMode", out); }
    HRESULT STDMETHODCALLTYPE setMode(BSTR, VARIANT_BOOL) override { return Unexpected("setMode"); }
    HRESULT STDMETHODCALLTYPE get_enableErrorDialogs(VARIANT_BOOL* out) override {
        return Unexpected("get_enableErrorDialogs", out);
    }
    HRESULT STDMETHODCALLTYPE put_enableErrorDialogs(VARIANT_BOOL) override {
        return Unexpected("put_enableErrorDialogs");
    }
};

class TFakeWmpCdrom final : public TFakeObject<IWMPCdrom> {
public:
    TFakeWmpCdrom(TFakeWmpState& state, int index) : TFakeObject(state, "cdrom" + std::to_string(index)) {}

    HRESULT STDMETHODCALLTYPE eject() override { return Call("eject", [] { return S_OK; }); }

    HRESULT STDMETHODCALLTYPE get_driveSpecifier(BSTR* out) override { return Unexpected("get_driveSpecifier", out); }
    HRESULT STDMETHODCALLTYPE get_Playlist(IWMPPlaylist** out) override { return Unexpected("get_Playlist", out); }
};

class TFakeWmpCdromCollection final : public TFakeObject<IWMPCdromCollection> {
public:
    TFakeWmpCdromCollection(TFakeWmpState& state, std::vector<TFakeWmpCdrom*> drives)
        : TFakeObject(state, "cdromCollection"), drives_(std::move(drives)) {}

    HRESULT STDMETHODCALLTYPE get_count(LONG* out) override {
        return Call("count", [&] {
            *out = static_cast<LONG>(drives_.size());
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Item(LONG index, IWMPCdrom** out) override {
        *out = nullptr;
        return Call("item", index, [&] {
            if (index < 0 || index >= static_cast<LONG>(drives_.size())) return E_INVALIDARG;
            *out = drives_[static_cast<size_t>(index)]->Interface();
            (*out)->AddRef();
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE getByDriveSpecifier(BSTR, IWMPCdrom** out) override {
        return Unexpected("getByDriveSpecifier", out);
    }

private:
    std::vector<TFakeWmpCdrom*> drives_;
};

class TFakeWmpCore final : public TFakeObject<IWMPCore> {
public:
    explicit TFakeWmpCore(int driveCount = 0);

    TFakeWmpState State;
    TFakeWmpControls Controls{State};
    TFakeWmpSettings Settings{State};
    std::vector<std::unique_ptr<TFakeWmpCdrom>> Drives;
    std::unique_ptr<TFakeWmpCdromCollection> Cdroms;

    // The references held on the sub-objects, the core's own not included.
    ULONG SubObjectRefs() const;

    HRESULT STDMETHODCALLTYPE get_playState(WMPPlayState* out) override;
    HRESULT STDMETHODCALLTYPE get_controls(IWMPControls** out) override;
    HRESULT STDMETHODCALLTYPE get_settings(IWMPSettings** out) override;
    HRESULT STDMETHODCALLTYPE get_cdromCollection(IWMPCdromCollection** out) override;

    HRESULT STDMETHODCALLTYPE close() override { return Unexpected("close"); }
    HRESULT STDMETHODCALLTYPE get_URL(BSTR* out) override { return Unexpected("get_URL", out); }
    HRESULT STDMETHODCALLTYPE put_URL(BSTR) override { return Unexpected("put_URL"); }
    HRESULT STDMETHODCALLTYPE get_openState(WMPOpenState* out) override { return Unexpected("get_openState", out); }
    HRESULT STDMETHODCALLTYPE get_currentMedia(IWMPMedia** out) override { return Unexpected("get_currentMedia", out); }
    HRESULT STDMETHODCALLTYPE put_currentMedia(IWMPMedia*) override { return Unexpected("put_currentMedia"); }
    HRESULT STDMETHODCALLTYPE get_mediaCollection(IWMPMediaCollection** out) override {
        return Unexpected("get_mediaCollection", out);
    }
    HRESULT STDMETHODCALLTYPE get_playlistCollection(IWMPPlaylistCollection** out) override {
        return Unexpected("get_playlistCollection", out);
    }
    HRESULT STDMETHODCALLTYPE get_versionInfo(BSTR* out) override { return Unexpected("get_versionInfo", out); }
    HRESULT STDMETHODCALLTYPE launchURL(BSTR) override { return Unexpected("launchURL"); }
    HRESULT STDMETHODCALLTYPE get_network(IWMPNetwork** out) override { return Unexpected("get_network", out); }
    HRESULT STDMETHODCALLTYPE get_currentPlaylist(IWMPPlaylist** out) override {
        return Unexpected("get_currentPlaylist", out);
    }
    HRESULT STDMETHODCALLTYPE put_currentPlaylist(IWMPPlaylist*) override { return Unexpected("put_currentPlaylist"); }
    HRESULT STDMETHODCALLTYPE get_closedCaption(IWMPClosedCaption** out) override {
        return Unexpected("get_closedCaption", out);
    }
    HRESULT STDMETHODCALLTYPE get_isOnline(VARIANT_BOOL* out) override { return Unexpected("get_isOnline", out); }
    HRESULT STDMETHODCALLTYPE get_Error(IWMPError** out) override { return Unexpected("get_Error", out); }
    HRESULT STDMETHODCALLTYPE get_status(BSTR* out) override { return Unexpected("get_status", out); }
};
