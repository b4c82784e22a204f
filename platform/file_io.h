// Small file reader and writer used by the song's loader and writer. Private to the library.
//
// FileReader reads a file front to back and knows how many bytes it still holds, so the
// loader can refuse a chunk that claims more bytes than the file has before allocating.
//
// FileWriter never touches the target until everything is written: it writes into a
// temporary file in the target's directory and renames it over the target on Commit(),
// keeping the target's permission bits. A writer that is destroyed without a successful
// Commit() removes its temporary file, so a failed store leaves the old file as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace midifolio {
namespace detail {

class FileReader {
  public:
    FileReader() = default;
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // Opens the path read-only. On failure returns false; ErrorText() tells why.
    bool Open(const std::string& path);
    bool IsOpen() const { return m_fd >= 0; }
    void Close();

    // Reads up to n bytes; returns how many arrived. Fewer than n means the end of the
    // file, or a read error (then Failed() is true).
    size_t Read(void* buffer, size_t n);
    // Appends exactly n bytes to out, growing it in steps as the bytes arrive, so a false
    // length claim never makes it allocate much more than the file holds. Returns false
    // (out keeps what arrived) when the file ends first or a read error occurs.
    bool ReadAppend(std::vector<uint8_t>& out, uint64_t n);

    // True when a read failed for a reason other than reaching the end of the file.
    bool Failed() const { return m_failed; }
    // Bytes left between the current position and the end of the file, when the file has
    // a known size (a regular file); otherwise false is returned.
    bool Remaining(uint64_t& remaining) const;
    std::string ErrorText() const { return m_error; }

  private:
    size_t ReadDirect(uint8_t* out, size_t n);  // system reads until n bytes, end or error

    int m_fd = -1;
    bool m_failed = false;
    bool m_sizeKnown = false;
    uint64_t m_size = 0;
    uint64_t m_pos = 0;  // bytes handed to the caller so far
    std::string m_error;
    std::vector<uint8_t> m_ahead;  // bytes read ahead; m_aheadPos of them handed out
    size_t m_aheadPos = 0;
};

class FileWriter {
  public:
    FileWriter() = default;
    ~FileWriter();  // discards the temporary file unless Commit() succeeded
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    // Prepares to replace the file at path. Fails (false, ErrorText()) when the target
    // could not be written: a missing directory, a target that is a directory or that
    // the user may not write, a directory where no temporary file can be created.
    bool Open(const std::string& path);
    // Buffers the bytes; the first failure is kept and later writes are ignored.
    void Write(const void* data, size_t n);
    // Flushes, syncs and closes the temporary file and renames it over the target.
    // False when any write failed or the replacement could not be made; then the
    // target is unchanged.
    bool Commit();
    bool Failed() const { return m_failed; }
    std::string ErrorText() const { return m_error; }
    // Marks the output as unusable (for instance a track that could not be encoded), so
    // Commit() keeps the target unchanged.
    void Fail(int err);

  private:
    bool Flush();
    bool WriteOut(const uint8_t* data, size_t n);  // system writes of all n bytes
    void Discard();

    int m_fd = -1;
    bool m_failed = false;
    bool m_direct = false;  // writing straight to a device or pipe: no replacement possible
    bool m_keepMode = false;
    unsigned m_mode = 0;
    unsigned m_uid = 0;
    unsigned m_gid = 0;
    std::string m_target;
    std::string m_temp;
    std::vector<uint8_t> m_buffer;
    std::string m_error;
};

}  // namespace detail
}  // namespace midifolio
