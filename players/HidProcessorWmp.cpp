#include "players/HidProcessorWmp.h"

#include <climits>
#include <utility>

#include "rtl/win32/olecheck.h"

namespace {
constexpr LONG VolumeStep = 4;
constexpr TActionSet NotOffered = (1u << 11) | (1u << 14) | (1u << 15);
static_assert(static_cast<TActionSet>(AllActions & ~NotOffered) == WmpSupportedActions);

// A call that reports success must also have handed over its object.
template <class T>
void CheckResult(HRESULT hr, IUnknown* object, REFIID iid, const TComPtr<T>& result) {
    OleCheck(hr, object, iid);
    if (!result) OleCheck(E_POINTER);
}

// A plain pointer: a static owner would free the engine from the library's
// finalisation, under the loader lock, where its reading threads cannot be waited for.
TWmpHidProcessor* SharedInstance = nullptr;

// Stops the handlers first, so that an error there is swallowed here and not in the
// destructor, which must not raise.
void Release(TWmpHidProcessor* engine) noexcept {
    if (!engine) return;
    try {
        engine->StopHandlers();
    } catch (...) {
    }
    delete engine;
}

// The player clamps the volume itself; only the integer's own range is kept.
LONG Stepped(LONG volume, LONG step) {
    if (step > 0 && volume > LONG_MAX - step) return LONG_MAX;
    if (step < 0 && volume < LONG_MIN - step) return LONG_MIN;
    return volume + step;
}
}  // namespace

namespace HidProcessorWmp {
TWmpHidProcessor* GetHidProcessor() noexcept {
    if (SharedInstance) return SharedInstance;
    try {
        SharedInstance = new TWmpHidProcessor;
        SharedInstance->LoadFromFile("");
        SharedInstance->RestartHandlers();
    } catch (...) {
        // The handlers started before the failure would keep reading for an engine
        // nobody can reach.
        Release(std::exchange(SharedInstance, nullptr));
    }
    return SharedInstance;
}

TWmpHidProcessor* HidProcessor() noexcept { return SharedInstance; }

void FreeHidProcessor() noexcept {
    // Forgotten first: a message served while the reading threads are waited for must
    // not reach an engine half gone.
    Release(std::exchange(SharedInstance, nullptr));
}
}  // namespace HidProcessorWmp

TWmpHidProcessor::TWmpHidProcessor() {
    FileName = "kwhid-wmp.ini";
    // Full Screen, Shuffle and Repeat have no call on the core.
    SupportedActions &= static_cast<TActionSet>(~NotOffered);
}

TWmpHidProcessor::~TWmpHidProcessor() = default;

void TWmpHidProcessor::SetCore(IWMPCore* core) noexcept { core_.reset(core); }

void TWmpHidProcessor::DoCommand(TActionCode code) {
    THidProcessor::DoCommand(code);
    // Held for the whole command: a core replaced meanwhile stays alive until it ends.
    const TComPtr<IWMPCore> core = core_;
    if (!core) return;

    IWMPCore* const c = core.get();
    WMPPlayState state = wmppsUndefined;
    OleCheck(c->get_playState(&state), c, __uuidof(IWMPCore));

    // Every step asks the core afresh; all of them are released on return, thrown or not.
    const auto controls = [c] {
        TComPtr<IWMPControls> result;
        CheckResult(c->get_controls(result.put()), c, __uuidof(IWMPCore), result);
        return result;
    };
    const auto settings = [c] {
        TComPtr<IWMPSettings> result;
        CheckResult(c->get_settings(result.put()), c, __uuidof(IWMPCore), result);
        return result;
    };
    const auto cdroms = [c] {
        TComPtr<IWMPCdromCollection> result;
        CheckResult(c->get_cdromCollection(result.put()), c, __uuidof(IWMPCore), result);
        return result;
    };
    const auto transport = [&controls](HRESULT (STDMETHODCALLTYPE IWMPControls::*call)()) {
        const TComPtr<IWMPControls> target = controls();
        OleCheck((target.get()->*call)(), target.get(), __uuidof(IWMPControls));
    };
    const auto stepVolume = [&settings](LONG step) {
        const TComPtr<IWMPSettings> reader = settings();
        LONG volume = 0;
        OleCheck(reader->get_volume(&volume), reader.get(), __uuidof(IWMPSettings));
        const TComPtr<IWMPSettings> writer = settings();
        OleCheck(writer->put_volume(Stepped(volume, step)), writer.get(), __uuidof(IWMPSettings));
    };

    switch (code) {
    case 1:
        transport(state == wmppsPlaying ? &IWMPControls::pause : &IWMPControls::play);
        break;
    case 2:
        transport(&IWMPControls::next);
        break;
    case 3:
        transport(&IWMPControls::previous);
        break;
    case 4:
        transport(&IWMPControls::stop);
        break;
    case 5:
        stepVolume(VolumeStep);
        break;
    case 6:
        stepVolume(-VolumeStep);
        break;
    case 7:
        transport(&IWMPControls::fastForward);
        break;
    case 8:
        transport(&IWMPControls::fastReverse);
        break;
    case 12: {
        const TComPtr<IWMPCdromCollection> counter = cdroms();
        LONG count = 0;
        OleCheck(counter->get_count(&count), counter.get(), __uuidof(IWMPCdromCollection));
        if (count < 1) break;
        const TComPtr<IWMPCdromCollection> drives = cdroms();
        TComPtr<IWMPCdrom> drive;
        CheckResult(drives->Item(0, drive.put()), drives.get(), __uuidof(IWMPCdromCollection), drive);
        OleCheck(drive->eject(), drive.get(), __uuidof(IWMPCdrom));
        break;
    }
    case 13: {
        const TComPtr<IWMPSettings> reader = settings();
        VARIANT_BOOL mute = VARIANT_FALSE;
        OleCheck(reader->get_mute(&mute), reader.get(), __uuidof(IWMPSettings));
        const TComPtr<IWMPSettings> writer = settings();
        OleCheck(writer->put_mute(mute == VARIANT_FALSE ? VARIANT_TRUE : VARIANT_FALSE), writer.get(),
                 __uuidof(IWMPSettings));
        break;
    }
    default:
        // Play (9) and Pause (10) are offered for learning but send nothing.
        break;
    }
}
