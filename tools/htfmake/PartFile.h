#pragma once
// A file written under a temporary name beside its target (target + ".part")
// that replaces the target only once it is complete; removed otherwise.
#include <string>

class PartFile {
public:
    explicit PartFile(const std::string& target) : target_(target), path_(target + ".part") {}
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;
    const std::string& path() const { return path_; }
    // Moves the part over the target; false when it cannot.
    bool commit();

private:
    std::string target_, path_;
    bool committed_ = false;
};
