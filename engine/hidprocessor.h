#pragma once
// The engine: the ordered set of learned actions, the selected device and the
// mode, and the settings file they persist in.
#include <cstdint>
#include <memory>
#include <string>

#include "engine/hidaction.h"
#include "engine/hiddevicehandler.h"
#include "rtl/list.h"
#include "rtl/timer.h"

// The settings folder under the user's local application data.
inline constexpr const char* SettingsFolderName = "Clickwell";
inline constexpr int MaxStoredActions = 32;

// The device handlers; the list owns them. A handler's position is the Tag of
// its port and of its quiet timer. Grown and emptied on the UI thread; the
// handlers' reading threads never read it.
class THidDevicehandlers : public TList<THidDevicehandler> {
public:
    ~THidDevicehandlers() override { Clear(); }
    void Clear() override;
};

class THidProcessor : public TList<THidAction> {
public:
    THidProcessor();
    ~THidProcessor() override;

    // Frees every action in list order, then empties the list.
    void Clear() override;

    // Sends the player command for code; each player's adapter supplies it.
    // Called on the UI thread with the non-zero code of an action in the list.
    virtual void DoCommand(TActionCode code);

    // Folds a report into the burst of the handler at the sender's Tag, on the
    // sender's reading thread. The handlers' own ports deliver to their handlers
    // directly; this entry is for senders bound to it while Handlers stands still.
    void ReportReceived(TObject* sender, const uint8_t* buffer, uint32_t count);
    // Expiry of a handler's quiet timer: the burst is over; match it.
    void QuietTimeout(TObject* sender);
    // The action a burst of this signature on this device selects, or none.
    THidAction* MatchAction(uint32_t signature, int32_t deviceIndex);
    // Expiry of the repeat timer: re-sends the command of every held action.
    void RepeatTimeout(TObject* sender);
    void StartRepeat();
    void StopRepeatIfIdle();

    // One handler, with its port open, for every usable device the actions name,
    // in the order the actions first name them. A device that cannot be opened
    // raises; the handlers started before it keep running.
    void StartHandlers();
    // Closes every port (each returns once its reading thread has ended) and frees the handlers.
    void StopHandlers();
    void RestartHandlers();
    THidDevicehandler* FindHandler(int32_t deviceIndex);

    // The first action with this code; appends a fresh one when there is none.
    THidAction* FindAction(TActionCode code);

    // An empty or all-blank name means DefaultSettingsPath. Failures are silent:
    // a load keeps what it has read so far, a save leaves the old file intact.
    void LoadFromFile(const std::string& name);
    void SaveToFile(const std::string& name) const;
    // The settings file in the settings folder, which is created when missing;
    // FileName alone when the folder cannot be found.
    std::string DefaultSettingsPath() const;
    // The file's content as SaveToFile writes it.
    std::string SettingsText() const;

    static constexpr int MaxRepeatTicks = 64;

    std::unique_ptr<TTimer> RepeatTimer;
    int32_t HidIndex = -1;
    int32_t RepeatCount = 0;
    std::string FileName = "kwhid.ini";
    TActionSet SupportedActions = AllActions;
    THidDevicehandlers Handlers;
    // Counts the devices present; never opened.
    std::unique_ptr<IHidPort> Enumerator;
    bool Mode = false;

private:
    // Held: pressed, with a release signature, repeatable and assigned.
    static bool IsHeld(const THidAction& action);
    bool AnyHeld() const;
};

// A shell special folder (CSIDL number) with a trailing backslash; a lone
// backslash when the shell has no such folder.
std::string SpecialFolderPath(int folderId);
