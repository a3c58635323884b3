// A table of coder factories by name (names compare without regard to
// case): the transfer coders by encoding and the header-field coders by
// field name. Safe to use from several threads.
#pragma once

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/AsciiCase.h"

namespace quorvex::mime {

template <typename Coder>
class CoderTable {
public:
    using Factory = std::unique_ptr<Coder> (*)();
    using Entry = std::pair<std::string_view, Factory>;

    // A factory of T.
    template <typename T>
    static std::unique_ptr<Coder> Make() {
        return std::make_unique<T>();
    }

    // Replaces every entry by `entries`.
    void Reset(std::initializer_list<Entry> entries) {
        std::lock_guard guard(mutex_);
        entries_.clear();
        for (const auto& [name, factory] : entries) entries_.emplace_back(std::string(name), factory);
    }
    // Replaces the entry of `name`; a null factory removes it.
    void Set(std::string_view name, Factory factory) {
        std::lock_guard guard(mutex_);
        std::erase_if(entries_, [&](const auto& entry) { return EqualsNoCase(entry.first, name); });
        if (factory != nullptr) entries_.emplace_back(std::string(name), factory);
    }
    // A new coder for `name`; null when none is registered.
    std::unique_ptr<Coder> Create(std::string_view name) const {
        std::lock_guard guard(mutex_);
        for (const auto& [entry_name, factory] : entries_)
            if (EqualsNoCase(entry_name, name)) return factory();
        return nullptr;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, Factory>> entries_;
};

}  // namespace quorvex::mime
