// Small file reader and writer used by the song's loader and writer. Private to the library.
//
// FileReader reads a file front to back and knows how many bytes it still holds, so the
// loader can refuse a chunk that claims more bytes than the file has before allocating.
//
// FileWriter never touches the target until everything is written: it writes into a new
// file in the target's directory (without a name where the system allows it) and puts it in
// the target's place on Commit(), keeping the target's permission bits. A writer that is
// destroyed without a successful Commit() removes its new file, so a failed store leaves the
// old file as it was. The one exception is a writable file in a directory that is not: it
// is rewritten in place, which a crash in the middle of Commit() can damage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "midifolio/export.h"
#include "midifolio/platform.h"

MIDIFOLIO_BEGIN_NAMESPACE
namespace platform_detail {

class FileReader {
  public:
    FileReader() = default;
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // Opens the path read-only. On failure returns false; ErrorText() tells why.
    bool Open(const std::string& path);
    // Reads bytes in memory instead of a file (they must outlive the reader).
    void OpenMemory(const uint8_t* data, size_t size);
    bool IsOpen() const { return m_fd >= 0 || m_mem != nullptr; }
    void Close();

    // Reads up to n bytes; returns how many arrived. Fewer than n means the end of the
    // file, or a read error (then Failed() is true).
    size_t Read(void* buffer, size_t n);
    // Appends exactly n bytes to out, growing it in steps as the bytes arrive, so a false
    // length claim never makes it allocate much more than the file holds. Returns false
    // (out keeps what arrived) when the file ends first or a read error occurs.
    bool ReadAppend(std::vector<uint8_t>& out, uint64_t n);

    // Reads every byte to the end of the file into out. False when more than `limit` bytes
    // come (out then holds the first of them) or a read fails (Failed()).
    // A progress observer hears of the bytes read, a megabyte at a time.
    bool ReadAll(std::vector<uint8_t>& out, uint64_t limit, ProgressObserver* progress = nullptr);

    // Passes over n bytes (seeking where the file allows it). False when the file ends first.
    bool Skip(uint64_t n);

    // True when a read failed for a reason other than reaching the end of the file.
    bool Failed() const { return m_failed; }
    // Bytes left between the current position and the end of the file, when the file has
    // a known size (a regular file); otherwise false is returned.
    bool Remaining(uint64_t& remaining) const;
    std::string ErrorText() const { return m_error; }
    int Error() const { return m_errno; }        // errno of a failed open or read, 0 for none
    uint64_t Position() const { return m_pos; }  // bytes handed to the caller so far
    // The file's size, when it has a known one (a regular file); else 0.
    uint64_t Size() const { return m_sizeKnown ? m_size : 0; }

  private:
    size_t ReadDirect(uint8_t* out, size_t n);  // system reads until n bytes, end or error
    // Read's work; `straight`: what the read-ahead buffer does not hold comes straight into
    // the caller's memory, however little (for a caller that has its own buffer).
    size_t ReadInto(uint8_t* out, size_t n, bool straight);

    int m_fd = -1;
    const uint8_t* m_mem = nullptr;  // the bytes of OpenMemory
    bool m_failed = false;
    bool m_sizeKnown = false;
    uint64_t m_size = 0;
    uint64_t m_pos = 0;  // bytes handed to the caller so far
    std::string m_error;
    int m_errno = 0;
    std::vector<uint8_t> m_ahead;  // bytes read ahead; m_aheadPos of them handed out
    size_t m_aheadPos = 0;
};

class FileWriter {
  public:
    FileWriter() = default;
    ~FileWriter();  // discards the new content unless Commit() succeeded
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Prepares to replace the file at path. Fails (false, ErrorText()) when the target
    // could not be written: a missing directory, a target that is a directory or that
    // the user may not write, a directory where no new file can be created for a target
    // that does not exist yet.
    bool Open(const std::string& path);
    // Buffers the bytes; the first failure is kept and later writes are ignored.
    void Write(const void* data, size_t n);
    // Flushes, syncs and closes the new file and puts it in the target's place. False when
    // any write failed or the replacement could not be made; then the target is unchanged
    // (but see the in-place case in file_io.cpp).
    bool Commit();
    bool Failed() const { return m_failed; }
    int Error() const { return m_errno; }  // errno value of the first failure, 0 for none
    std::string ErrorText() const { return m_error; }
    // The temporary file holding the new content while it has a name, else "".
    const std::string& TemporaryName() const { return m_temp; }
    // Marks the output as unusable (for instance a track that could not be encoded), so
    // Commit() keeps the target unchanged.
    void Fail(int err);

  private:
    // Where the bytes go until Commit().
    enum class Mode {
        kNone,
        kUnnamed,    // a file without a name in the target's directory (O_TMPFILE)
        kTemporary,  // a temporary file beside the target
        kDirect,     // the target itself, a device or a pipe: no replacement possible
        kInPlace,    // the target itself, rewritten at Commit() (its directory is not writable)
    };

    bool ResolveTarget(const std::string& path);
    bool ExamineTarget();
    bool OpenNewFile(int& err);
    bool KeepOwnerAndBits();
    bool Flush();
    bool WriteOut(const uint8_t* data, size_t n);  // system writes of all n bytes
    bool CommitInPlace();
    bool LinkUnnamed();
    void Discard();

    int m_fd = -1;
    Mode m_mode = Mode::kNone;
    bool m_failed = false;
    int m_errno = 0;
    bool m_exists = false;  // a regular file is replaced (its bits and owner are kept)
    unsigned m_perm = 0;
    unsigned m_uid = 0;
    unsigned m_gid = 0;
    std::string m_target;
    std::string m_dir;
    std::string m_base;
    std::string m_temp;  // name of the new file while it has a temporary one
    std::vector<uint8_t> m_buffer;
    std::string m_error;
};

}  // namespace platform_detail
MIDIFOLIO_END_NAMESPACE
