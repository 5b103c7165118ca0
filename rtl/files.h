#pragma once
// The few file operations the portable code needs, by path in the system's
// single-byte code page. Paths use Windows separators; the POSIX backend, which
// exists for tests, reads a backslash as a slash.
#include <string>

// The whole content of a file; false when it cannot be read. Others may read, write,
// rename and replace the file meanwhile: a save at that moment still goes through.
bool ReadWholeFile(const std::string& path, std::string& content);

// Replaces the file's content as one step: the new content goes to a temporary
// file beside it, which replaces the old file only once it has been written and
// flushed completely. On failure the old file is left as it was and false is
// returned. The temporary file is created new under a name of its own, so that two
// savers (two players, two instances of one) never write into each other's, and a file
// of that name left behind by anyone is never taken over.
bool ReplaceFileContent(const std::string& path, const std::string& content);

bool DirectoryExists(const std::string& path);
// Creates the directory with every missing parent; true when it exists afterwards.
bool ForceDirectories(const std::string& path);

// The temporary file of this process's save number serial: beside the file, named after
// it, the process id and the serial.
std::string TemporaryNameFor(const std::string& path, unsigned serial);
// The serial of this process's latest save, 0 before the first.
unsigned LatestTemporarySerial();
// The temporary file of this process's latest save.
std::string TemporaryNameFor(const std::string& path);

// Where a test can come in between two steps, as another reader or saver would: with the
// file open for reading, and with the temporary file written but not yet in place. Null
// but in tests.
enum class TFileStep { Reading, Replacing };
using TFileStepHook = void (*)(TFileStep step, const std::string& file);
extern TFileStepHook FileStepHook;

// For the backends.
unsigned NewTemporarySerial();
// Where the old file steps aside while a reader keeps it open (Windows).
std::string AsideNameFor(const std::string& path, unsigned serial);
void FileStep(TFileStep step, const std::string& file);
unsigned long ThisProcessId() noexcept;
