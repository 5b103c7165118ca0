#include "rtl/files.h"

#include <atomic>

namespace {
std::atomic<unsigned> latestSerial{0};

std::string SaveFileName(const std::string& path, unsigned serial, const char* extension) {
    return path + "." + std::to_string(ThisProcessId()) + "-" + std::to_string(serial) + extension;
}
}  // namespace

TFileStepHook FileStepHook = nullptr;

std::string TemporaryNameFor(const std::string& path, unsigned serial) { return SaveFileName(path, serial, ".tmp"); }

unsigned LatestTemporarySerial() { return latestSerial.load(); }

std::string TemporaryNameFor(const std::string& path) { return TemporaryNameFor(path, LatestTemporarySerial()); }

unsigned NewTemporarySerial() { return ++latestSerial; }

std::string AsideNameFor(const std::string& path, unsigned serial) { return SaveFileName(path, serial, ".old"); }

void FileStep(TFileStep step, const std::string& file) {
    if (FileStepHook) FileStepHook(step, file);
}
