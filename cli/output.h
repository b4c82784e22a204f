// Where the tool's results go. Every byte goes through an Output, which checks each write:
// a full disk or any other error becomes a Failure naming the cause, and a reader that went
// away (a closed pipe) becomes OutputClosed, on which the tool stops quietly. JsonWriter puts
// JSON on an Output value by value, so that no document has to be built in memory first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "midifolio/file_output.h"

namespace mfcli {

// Thrown when the reader of standard output has gone (EPIPE): the tool stops at once, with
// no message and exit status 0, as a filter at the head of `| head` should.
struct OutputClosed {};

class Output {
  public:
    // `name` is used in messages: "standard output" or the path of a file.
    Output(int fd, std::string name);
    // Bytes for a file written whole or not at all.
    Output(midifolio::OutputFile& file, std::string name);
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    // Never flushes: whatever is left unflushed when an Output goes away was not wanted.
    ~Output() = default;

    Output& operator<<(std::string_view text);
    Output& operator<<(const std::string& text) { return *this << std::string_view(text); }
    Output& operator<<(const char* text) { return *this << std::string_view(text); }
    Output& operator<<(char c);
    Output& operator<<(long long value);
    Output& operator<<(unsigned long long value);
    Output& operator<<(int value) { return *this << static_cast<long long>(value); }
    Output& operator<<(long value) { return *this << static_cast<long long>(value); }
    Output& operator<<(unsigned value) { return *this << static_cast<unsigned long long>(value); }
    Output& operator<<(unsigned long value) {
        return *this << static_cast<unsigned long long>(value);
    }

    // Hands what is buffered to the system. Throws Failure or OutputClosed.
    void Flush();
    // Bytes written so far (flushed or not).
    uint64_t Written() const { return written_; }
    int Fd() const { return fd_; }
    const std::string& Name() const { return name_; }

  private:
    void WriteOut(const char* data, size_t size);
    int fd_;
    midifolio::OutputFile* file_ = nullptr;
    std::string name_;
    std::string buffer_;
    bool lineBuffered_;  // a terminal sees each line as soon as it is complete
    bool failed_ = false;
    uint64_t written_ = 0;
};

// The tool's standard output.
Output& Stdout();

// Where a subcommand's result goes when it is given a path (-o, OUT): "-" is standard output;
// any other path is a file written whole or not at all by the library (midifolio::OutputFile),
// so that a failed or interrupted command leaves the target as it was. Throws Failure
// ("PATH: could not be written: REASON").
class OutputTarget {
  public:
    explicit OutputTarget(const std::string& path);
    ~OutputTarget();
    OutputTarget(const OutputTarget&) = delete;
    OutputTarget& operator=(const OutputTarget&) = delete;

    Output& Out() { return file_ ? *out_ : Stdout(); }
    bool IsStdout() const { return !file_; }
    // Flushes; a file is put in its target's place (SIGINT and SIGTERM wait meanwhile).
    void Commit();

  private:
    std::string name_;
    std::unique_ptr<midifolio::OutputFile> file_;
    std::unique_ptr<Output> out_;
};

// SIGINT and SIGTERM stop the tool as they would, but first remove the temporary file of the
// output being written, when it has a name (most systems give it none). Installed by main.
void InstallSignalCleanup();

// JSON written as it is produced. With indent 2 the layout is the one of `jq .` (one member
// or element per line); with indent -1 a value takes one line without blanks (JSON Lines).
// Strings that are not valid UTF-8 have the offending bytes replaced by U+FFFD. The outermost
// value ends with a newline.
class JsonWriter {
  public:
    JsonWriter(Output& out, int indent) : out_(out), indent_(indent) {}

    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    JsonWriter& Key(std::string_view key);

    JsonWriter& String(std::string_view text);
    JsonWriter& Int(long long value);
    JsonWriter& UInt(unsigned long long value);
    JsonWriter& Double(double value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();

    template <typename T>
    JsonWriter& Value(const T& value) {
        if constexpr (std::is_same_v<T, bool>) {
            return Bool(value);
        } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
            return Int(value);
        } else if constexpr (std::is_integral_v<T>) {
            return UInt(value);
        } else if constexpr (std::is_floating_point_v<T>) {
            return Double(value);
        } else if constexpr (std::is_same_v<T, std::nullptr_t>) {
            return Null();
        } else {
            return String(std::string_view(value));
        }
    }
    // A member of the object being written: Key(key) and the value.
    template <typename T>
    JsonWriter& Field(std::string_view key, const T& value) {
        Key(key);
        return Value(value);
    }
    // An array of numbers as one member.
    template <typename T>
    JsonWriter& Field(std::string_view key, const std::vector<T>& values) {
        Key(key);
        BeginArray();
        for (const T& v : values) Value(v);
        return EndArray();
    }

  private:
    void BeforeValue();
    void NewLine(size_t depth);
    void Close(char bracket);
    struct Level {
        bool object;
        size_t count;
    };
    Output& out_;
    int indent_;
    std::vector<Level> levels_;
    bool afterKey_ = false;
};

}  // namespace mfcli
