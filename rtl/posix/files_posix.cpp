#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "rtl/files.h"

namespace {
// Enough for the leftovers of many crashed processes that had our id before.
constexpr int MaxTemporaryAttempts = 64;

std::string Native(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

class TFd {
public:
    explicit TFd(int fd) : fd_(fd) {}
    ~TFd() { Close(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int get() const { return fd_; }
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }
    void Reset(int fd) {
        Close();
        fd_ = fd;
    }

private:
    int fd_;
};

bool WriteAll(int fd, const std::string& content) {
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}
}  // namespace

unsigned long ThisProcessId() noexcept { return static_cast<unsigned long>(::getpid()); }

bool ReadWholeFile(const std::string& path, std::string& content) {
    TFd fd(::open(Native(path).c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return false;
    FileStep(TFileStep::Reading, path);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::string data;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        data.append(buffer, static_cast<size_t>(n));
    }
    content = std::move(data);
    return true;
}

bool ReplaceFileContent(const std::string& path, const std::string& content) {
    const std::string target = Native(path);
    std::string temporary;
    TFd fd(-1);
    // Only a file made here: one of that name already there is someone else's.
    for (int attempt = 0; attempt < MaxTemporaryAttempts && fd.get() < 0; ++attempt) {
        temporary = TemporaryNameFor(path, NewTemporarySerial());
        fd.Reset(::open(Native(temporary).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (fd.get() < 0 && errno != EEXIST) return false;
    }
    if (fd.get() < 0) return false;
    bool done = WriteAll(fd.get(), content) && ::fsync(fd.get()) == 0 && fd.Close();
    if (done) {
        FileStep(TFileStep::Replacing, temporary);
        done = ::rename(Native(temporary).c_str(), target.c_str()) == 0;
    }
    if (!done) ::unlink(Native(temporary).c_str());
    return done;
}

bool DirectoryExists(const std::string& path) {
    struct stat st;
    return ::stat(Native(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& path) {
    std::string dir = Native(path);
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (dir.empty()) return false;
    if (DirectoryExists(dir)) return true;
    const size_t cut = dir.find_last_of('/');
    if (cut != std::string::npos && cut > 0) ForceDirectories(dir.substr(0, cut));
    return ::mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST;
}
