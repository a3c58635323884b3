// Random names from the kernel's random source, for files and folders whose
// name must not be guessed or must not collide with another process's.
#pragma once

#include <cstddef>
#include <string>

namespace quorvex {

// `byte_count` random bytes as lower-case hexadecimal digits (twice as many
// characters). Empty when the system has no random bytes to give.
std::string RandomHexText(std::size_t byte_count);

}  // namespace quorvex
