#include "engine/hidprocessor.h"

#include <optional>
#include <string_view>
#include <vector>

#include "engine/textparse.h"
#include "rtl/files.h"
#include "rtl/format.h"
#include "rtl/shellfolders.h"
#include "rtl/strings.h"

namespace {
constexpr uint32_t RepeatInterval = 500;

// CR, LF and CR LF all end a line.
std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

// The value of the first name=value line whose name is key, letter case ignored;
// the name is compared as it stands, blanks included.
std::optional<std::string_view> ValueOf(const std::vector<std::string_view>& lines, std::string_view key) {
    for (std::string_view line : lines) {
        const size_t eq = line.find('=');
        if (eq != std::string_view::npos && SameText(line.substr(0, eq), key)) return line.substr(eq + 1);
    }
    return std::nullopt;
}

std::string SlotKey(int slot) { return Format("Action%.2u", static_cast<unsigned>(slot)); }

bool IsBlankName(const std::string& name) { return Trim(name).empty(); }
}  // namespace

std::string SpecialFolderPath(int folderId) {
    std::string folder;
    if (!GetSpecialFolder(folderId, folder)) folder.clear();
    if (folder.empty() || folder.back() != '\\') folder += '\\';
    return folder;
}

void THidDevicehandlers::Clear() {
    for (int i = 0; i < Count(); ++i) delete Items(i);
    TList::Clear();
}

THidProcessor::THidProcessor() : RepeatTimer(std::make_unique<TTimer>(nullptr)), Enumerator(CreateHidPort()) {
    RepeatTimer->SetEnabled(false);
    RepeatTimer->SetInterval(RepeatInterval);
    RepeatTimer->SetOnTimer(TNotifyEvent::Bind<&THidProcessor::RepeatTimeout>(this));
}

THidProcessor::~THidProcessor() {
    // Ports first: their reading threads must end before anything they reach goes.
    try {
        StopHandlers();
    } catch (...) {
    }
    Handlers.Clear();
    Enumerator.reset();
    RepeatTimer.reset();
    Clear();
}

THidDevicehandler* THidProcessor::FindHandler(int32_t deviceIndex) {
    for (int i = 0; i < Handlers.Count(); ++i)
        if (Handlers.Items(i)->Hid->DeviceIndex() == deviceIndex) return Handlers.Items(i);
    return nullptr;
}

void THidProcessor::StartHandlers() {
    if (!Enumerator) return;
    Enumerator->DeviceListRefresh();
    for (int i = 0; i < Count(); ++i) {
        const int32_t device = Items(i)->DeviceIndex;
        // An action needs no signature yet to get its device opened.
        if (device < 0 || FindHandler(device) || device >= Enumerator->DeviceCount()) continue;
        auto owned = std::make_unique<THidDevicehandler>(CreateHidPort());
        THidDevicehandler* handler = owned.get();
        handler->Hid->SetDeviceIndex(device);
        handler->Hid->SetOnAfterReceive(TOnReceived::Bind<&THidDevicehandler::PortReceived>(handler));
        handler->QuietTimer->SetOnTimer(TNotifyEvent::Bind<&THidProcessor::QuietTimeout>(this));
        const int position = Handlers.Add(handler);
        owned.release();
        handler->Hid->Component().SetTag(position);
        handler->QuietTimer->SetTag(position);
        handler->Hid->SetActive(true);
    }
}

void THidProcessor::StopHandlers() {
    RepeatTimer->SetEnabled(false);
    // The list keeps its length until every port is closed: a sender bound to
    // ReportReceived still finds its handler by position.
    for (int i = 0; i < Handlers.Count(); ++i) {
        THidDevicehandler* handler = Handlers.Items(i);
        try {
            handler->Hid->SetActive(false);
        } catch (...) {
            // Freeing the handler closes its port all the same.
        }
        delete handler;
    }
    Handlers.TList::Clear();
}

void THidProcessor::RestartHandlers() {
    StopHandlers();
    StartHandlers();
}

void THidProcessor::Clear() {
    for (int i = 0; i < Count(); ++i) delete Items(i);
    TList::Clear();
}

void THidProcessor::DoCommand(TActionCode /*code*/) {}

void THidProcessor::ReportReceived(TObject* sender, const uint8_t* buffer, uint32_t count) {
    // Senders are ports, which are components. The handlers' own ports do not come
    // here (see StartHandlers): only a sender whose handler list stands still.
    Handlers.Items(static_cast<int>(static_cast<TComponent*>(sender)->Tag()))->ReportReceived(buffer, count);
}

void THidProcessor::QuietTimeout(TObject* sender) {
    THidDevicehandler* handler = Handlers.Items(static_cast<int>(static_cast<TTimer*>(sender)->Tag()));
    handler->QuietTimer->SetEnabled(false);
    uint32_t signature;
    if (!handler->EndBurst(signature)) return;

    THidAction* action = MatchAction(signature, handler->Hid->DeviceIndex());
    if (!action || action->Code == 0) return;
    // A failing command skips the rest: Pressed stays as it was.
    DoCommand(action->Code);
    if (!action->IsRepeatable() || action->ReleaseSignature == SignatureNone) return;
    action->Pressed = !action->Pressed;
    if (action->Pressed)
        StartRepeat();
    else
        StopRepeatIfIdle();
}

THidAction* THidProcessor::MatchAction(uint32_t signature, int32_t deviceIndex) {
    for (int i = 0; i < Count(); ++i) {
        THidAction* action = Items(i);
        if (action->DeviceIndex != deviceIndex || !action->Matches(signature)) continue;
        // In simple mode only the first action of each code takes part.
        if (Mode || FindAction(action->Code) == action) return action;
    }
    return nullptr;
}

bool THidProcessor::IsHeld(const THidAction& action) {
    return action.Pressed && action.ReleaseSignature != SignatureNone && action.IsRepeatable() &&
           action.IsAssigned();
}

bool THidProcessor::AnyHeld() const {
    for (int i = 0; i < Count(); ++i)
        if (IsHeld(*Items(i))) return true;
    return false;
}

void THidProcessor::StartRepeat() {
    RepeatTimer->SetEnabled(true);
    RepeatCount = 0;
}

void THidProcessor::RepeatTimeout(TObject* /*sender*/) {
    ++RepeatCount;
    bool held = false;
    // A failing command skips the later ones and the stop test: the timer keeps running.
    for (int i = 0; i < Count(); ++i) {
        if (!IsHeld(*Items(i))) continue;
        held = true;
        DoCommand(Items(i)->Code);
    }
    if (!held || RepeatCount >= MaxRepeatTicks) RepeatTimer->SetEnabled(false);
}

void THidProcessor::StopRepeatIfIdle() {
    if (!AnyHeld()) RepeatTimer->SetEnabled(false);
}

THidAction* THidProcessor::FindAction(TActionCode code) {
    for (int i = 0; i < Count(); ++i)
        if (Items(i)->Code == code) return Items(i);
    auto action = std::make_unique<THidAction>();
    action->Code = code;
    Add(action.get());
    return action.release();
}

std::string THidProcessor::DefaultSettingsPath() const {
    try {
        const std::string folder = SpecialFolderPath(CSIDL_LOCAL_APPDATA_ID) + SettingsFolderName;
        if (!DirectoryExists(folder)) ForceDirectories(folder);
        return folder + "\\" + FileName;
    } catch (...) {
        return FileName;
    }
}

void THidProcessor::LoadFromFile(const std::string& name) {
    Clear();
    try {
        const std::string path = IsBlankName(name) ? DefaultSettingsPath() : name;
        std::string content;
        if (!ReadWholeFile(path, content)) return;
        const std::vector<std::string_view> lines = SplitLines(content);

        for (int slot = 0; slot < MaxStoredActions; ++slot) {
            const std::string_view text = Trim(ValueOf(lines, SlotKey(slot)).value_or(""));
            if (text.size() <= 2) continue;
            auto action = std::make_unique<THidAction>();
            action->SetAsText(text);
            // Codes this player does not offer, and letters outside A..P, are dropped.
            if (!ActionInSet(SupportedActions, action->Code)) continue;
            Add(action.get());
            action.release();
        }

        int32_t index = 0;
        if (auto value = ValueOf(lines, "HidIndex"); !value || !TryParseInt32(*value, index)) index = 0;
        HidIndex = index;

        // Only the two values the engine writes mean something; anything else
        // (or no key at all) keeps the mode the engine has.
        if (auto value = ValueOf(lines, "Mode")) {
            if (*value == "-1") Mode = true;
            else if (*value == "0") Mode = false;
        }
    } catch (...) {
        // A broken settings file must never stop the player: keep what was read.
    }
}

std::string THidProcessor::SettingsText() const {
    std::string text = Format("HidIndex=%d\r\nMode=%s\r\n", HidIndex, Mode ? "-1" : "0");
    for (int slot = 0; slot < MaxStoredActions && slot < Count(); ++slot) {
        text += SlotKey(slot);
        text += '=';
        text += Trim(Items(slot)->AsText());
        text += "\r\n";
    }
    return text;
}

void THidProcessor::SaveToFile(const std::string& name) const {
    try {
        const std::string path = IsBlankName(name) ? DefaultSettingsPath() : name;
        ReplaceFileContent(path, SettingsText());
    } catch (...) {
        // Lost without a message, and the old file stays as it was.
    }
}
