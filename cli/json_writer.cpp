// JsonWriter: the layout is the writer's own; strings and floating-point numbers are spelled by
// nlohmann/json, so that escapes, the replacement of invalid UTF-8 and the shortest exact form
// of a double are the ones every JSON document of the tool has always had.
#include <nlohmann/json.hpp>

#include "output.h"

namespace mfcli {

namespace {

using nlohmann::json;

// True when the text can go between quotes as it is: printable ASCII without quote or
// backslash (the common case, spared a round trip through the library).
bool Plain(std::string_view text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') return false;
    }
    return true;
}

void WriteString(Output& out, std::string_view text) {
    if (Plain(text)) {
        out << '"' << text << '"';
        return;
    }
    out << json(std::string(text)).dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

void JsonWriter::NewLine(size_t depth) {
    out_ << '\n';
    for (size_t i = 0; i < depth * static_cast<size_t>(indent_); ++i) out_ << ' ';
}

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (levels_.empty()) return;
    if (levels_.back().count++ > 0) out_ << ',';
    if (indent_ >= 0) NewLine(levels_.size());
}

JsonWriter& JsonWriter::Key(std::string_view key) {
    if (levels_.back().count++ > 0) out_ << ',';
    if (indent_ >= 0) NewLine(levels_.size());
    WriteString(out_, key);
    out_ << (indent_ >= 0 ? ": " : ":");
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::BeginObject() {
    BeforeValue();
    out_ << '{';
    levels_.push_back({true, 0});
    return *this;
}

JsonWriter& JsonWriter::BeginArray() {
    BeforeValue();
    out_ << '[';
    levels_.push_back({false, 0});
    return *this;
}

void JsonWriter::Close(char bracket) {
    const Level level = levels_.back();
    levels_.pop_back();
    if (level.count > 0 && indent_ >= 0) NewLine(levels_.size());
    out_ << bracket;
    if (levels_.empty()) out_ << '\n';
}

JsonWriter& JsonWriter::EndObject() {
    Close('}');
    return *this;
}

JsonWriter& JsonWriter::EndArray() {
    Close(']');
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view text) {
    BeforeValue();
    WriteString(out_, text);
    if (levels_.empty()) out_ << '\n';
    return *this;
}

JsonWriter& JsonWriter::Int(long long value) {
    BeforeValue();
    out_ << value;
    if (levels_.empty()) out_ << '\n';
    return *this;
}

JsonWriter& JsonWriter::UInt(unsigned long long value) {
    BeforeValue();
    out_ << value;
    if (levels_.empty()) out_ << '\n';
    return *this;
}

JsonWriter& JsonWriter::Double(double value) {
    BeforeValue();
    out_ << json(value).dump();
    if (levels_.empty()) out_ << '\n';
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
    BeforeValue();
    out_ << (value ? "true" : "false");
    if (levels_.empty()) out_ << '\n';
    return *this;
}

JsonWriter& JsonWriter::Null() {
    BeforeValue();
    out_ << "null";
    if (levels_.empty()) out_ << '\n';
    return *this;
}

}  // namespace mfcli
