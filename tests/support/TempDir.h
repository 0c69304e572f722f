#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A fresh folder under the system's temporary folder, removed with its content.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    // Writes `bytes` to a file in the folder and returns its full path.
    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const;

private:
    std::string path_;
};
