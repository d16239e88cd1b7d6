// Files as both programs write and read them: a file replaced whole or not
// at all, a line appended whole or not at all, a small file read whole, and
// the data files the program ships. Plain POSIX, no Qt, no globals. Every
// routine returns 0 or an errno value, so a caller can say why.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace fileio {

// Replaces the file's content with `bytes`. A plain file of one name goes
// to a new file of a unique name beside it, with the old file's owner and
// mode, synced and renamed over it when complete: a full disk keeps the old
// content. A device, a symbolic link, a file with other names, a directory
// the caller may not write, or a file whose owner cannot be kept is written
// where it is. A file the caller may not write is refused (EACCES).
int ReplaceFile(const std::string &path, const std::string &bytes);

// Appends `bytes` in one write, creating the file (mode 0644 before the
// umask): they are in the file whole or not at all; what only partly fits
// (disk full) is taken back.
int AppendLine(const std::string &path, const std::string &bytes);

// Hands the file to `take` in blocks of at most `block` bytes until its end
// or until `take` returns false. *opening (when given) tells whether an
// error came from opening the file rather than from reading it.
int ReadBlocks(const std::string &path, size_t block,
               const std::function<bool(const char *, size_t)> &take, bool *opening = nullptr);

// The whole file into `out`; EFBIG when it holds more than `cap` bytes.
int ReadWholeFile(const std::string &path, std::string &out, size_t cap);

// The directory of the running program ("" when the system does not say).
std::string ProgramDir();

// A file the program ships (a form, the resource file): beside the program,
// in ../share/kvex-ridar for an installed program, or in the working
// directory; the first that is a plain file, else the one beside the program.
std::string FindDataFile(const std::string &name);
std::string FindDataFile(const std::string &programDir, const std::string &name);

// A companion program: beside the running one, else the first executable
// of that name on PATH; "" when there is none.
std::string FindProgram(const std::string &name);

// Where the files an operator writes (recorder file, parameter file) are
// proposed: beside the program when its directory may be written (a run
// from the build tree), else the documents folder, made when missing; ""
// when neither can be written.
std::string ProposalDir(const std::string &programDir, const std::string &documentsDir);

}   // namespace fileio
