// Files removed with their owner.
#include "common/TemporaryFile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

namespace quorvex {

TemporaryFile TemporaryFile::Create(std::string name_template) {
    UniqueFd fd(::mkostemp(name_template.data(), O_CLOEXEC));
    if (!fd) return {};
    return TemporaryFile(std::move(name_template), std::move(fd));
}

bool TemporaryFile::MoveTo(const std::string& destination) {
    if (path_.empty() || ::rename(path_.c_str(), destination.c_str()) != 0) return false;
    path_.clear();
    return true;
}

void TemporaryFile::Remove() {
    fd_.reset();
    if (!path_.empty()) ::unlink(path_.c_str());
    path_.clear();
}

}  // namespace quorvex
