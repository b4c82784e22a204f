// Files written whole or not at all: the library's own way of writing a file, for any content
// (StoreMidiFile writes songs this way; the tool writes every output file through it).
//
// The new content goes to a file without a name (O_TMPFILE) in the target's directory, or,
// where the system cannot make one, to a hidden temporary file beside the target; Commit()
// syncs it and puts it in the target's place in one step, keeping an existing file's
// permission bits, and syncs the directory. Until then the target stays as it was, and an
// OutputFile that goes away without a successful Commit() removes what it wrote. A symbolic
// link is written through (the link stays); a dangling link or a loop of links is refused. A
// device or a pipe is written directly. A writable file in a directory that is not writable
// is rewritten in place at Commit(): the one case a crash during Commit() can damage.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "midifolio/export.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace platform_detail {
class FileWriter;
}  // namespace platform_detail

class MIDIFOLIO_API OutputFile {
  public:
    OutputFile();
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Prepares to replace the file at path; false (Error()) when it cannot be written.
    bool Open(const std::string& path);
    // Adds bytes; false once a write has failed (later ones are ignored).
    bool Write(const void* data, size_t n);
    // Puts the complete file in the target's place; false (Error()) when it could not be.
    bool Commit();
    // errno of the first failure, 0 for none; and its text.
    int Error() const;
    std::string ErrorText() const;
    // The name of the temporary file that holds the new content, while there is one ("" for
    // the unnamed file): a program stopped by a signal before Commit() removes it.
    const std::string& TemporaryName() const;

  private:
    std::unique_ptr<platform_detail::FileWriter> m_writer;
};

// Writes n bytes as the whole content of a file, as OutputFile does: 0, or the errno value of
// the failure (the target then as it was).
MIDIFOLIO_API int WriteWholeFile(const std::string& path, const void* data, size_t n);

MIDIFOLIO_END_NAMESPACE
