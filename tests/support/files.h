// Files of a test, read and written as bytes.
#pragma once

#include <string>

namespace testfs {

// A directory of this process under /tmp, made once per prefix and removed
// with its contents when the process ends; "" when it cannot be made.
std::string TempDir(const std::string &prefix);
// A new directory under /tmp on every call, left to the caller; "" when it
// cannot be made.
std::string NewTempDir(const std::string &prefix);
// The file's bytes; "" when it cannot be read.
std::string ReadFile(const std::string &path);
// Writes the bytes, replacing the file; a failure fails the test.
void WriteFile(const std::string &path, const std::string &bytes);
bool Exists(const std::string &path);

}   // namespace testfs
