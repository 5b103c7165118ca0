#pragma once
// A fresh folder for one test, removed with everything in it afterwards.
// Paths are given with Windows separators, as the code under test builds them.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>

class TTempFolder {
public:
    TTempFolder() {
        static std::atomic<unsigned> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        root_ = std::filesystem::temp_directory_path() /
                ("kwtest-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(root_);
    }
    ~TTempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    // The folder itself, without a trailing separator.
    std::string Root() const { return Windows(root_.string()); }
    std::string Path(const std::string& relative) const { return Root() + "\\" + relative; }

private:
    static std::string Windows(std::string path) {
        std::replace(path.begin(), path.end(), '/', '\\');
        return path;
    }
    std::filesystem::path root_;
};
