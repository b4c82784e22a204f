// Text of the tool's output and the parsing of its arguments.
#include "text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "common.h"

namespace mfcli {

// "…" in UTF-8.
const char* const kEllipsis = "\xe2\x80\xa6";

// Columns a text takes on a terminal: its UTF-8 characters (continuation bytes take none).
int Width(std::string_view text) {
    int n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
}

// The text cut to its first `columns` characters.
std::string CutToWidth(const std::string& text, int columns) {
    int n = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && n++ == columns) {
            return text.substr(0, i);
        }
    }
    return text;
}

std::string Shown(std::string_view value) {
    constexpr int kShown = 20;
    std::string text = EscapeControls(value);
    if (Width(text) <= kShown) return text;
    return CutToWidth(text, kShown) + kEllipsis;
}

std::string Plural(long long n, const std::string& one, const std::string& many) {
    return std::to_string(n) + " " + (n == 1 ? one : many.empty() ? one + "s" : many);
}

std::string Lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string EscapeControls(std::string_view text) {
    std::string out;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            out += Format("\\x%02x", c);
        } else {
            out += ch;
        }
    }
    return out;
}

std::string Hex(const uint8_t* data, size_t length, size_t maxBytes) {
    std::string out;
    if (data == nullptr) return out;
    const size_t n = std::min<size_t>(length, maxBytes);
    for (size_t i = 0; i < n; ++i) {
        if (i) out += ' ';
        out += Format("%02x", data[i]);
    }
    if (n < length) out += " ... (" + Plural(static_cast<long long>(length), "byte") + ")";
    return out;
}

std::string ClockMs(double ms) {
    if (ms < 0) return "-";
    const long long v = static_cast<long long>(ms);
    return Format("%02lld:%02lld:%02lld.%03lld", v / 3600000, v / 60000 % 60, v / 1000 % 60,
                  v % 1000);
}

std::string ClockSeconds(double seconds) {
    if (!(seconds >= 0) || seconds > 1e12) return "-";
    return ClockMs(std::round(seconds * 1000.0));
}

std::string BpmText(int32_t usPerQuarter) {
    if (usPerQuarter <= 0) return "-";
    return Format("%.2f", midifolio::smf::BpmOfTempo(static_cast<uint32_t>(usPerQuarter)));
}

std::string ChannelText(int channel) {
    return channel >= 0 && channel < 16 ? std::to_string(channel + 1) : "-";
}

std::string Trim(const std::string& text) {
    const auto end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::string Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    // Most texts fit a line: formatted once, into the stack; longer ones a second time.
    char line[256];
    const int n = std::vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    std::string out;
    if (n > 0 && static_cast<size_t>(n) < sizeof line) {
        out.assign(line, static_cast<size_t>(n));
    } else if (n > 0) {
        out.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(&out[0], out.size(), fmt, copy);
        out.resize(static_cast<size_t>(n));
    }
    va_end(copy);
    return out;
}

bool ParseInteger(std::string_view text, long long& value, bool sign) {
    size_t i = sign && !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (i == text.size()) return false;
    for (size_t k = i; k < text.size(); ++k) {
        if (!std::isdigit(static_cast<unsigned char>(text[k]))) return false;
    }
    const char* first = text.data() + (text[0] == '+' ? 1 : 0);
    const auto result = std::from_chars(first, text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

std::pair<int, int> ParseRange(const std::string& text, const std::string& option) {
    auto number = [&](const std::string& s) {
        if (s.empty() || s.size() > 9 || !std::all_of(s.begin(), s.end(), [](unsigned char c) {
                return std::isdigit(c) != 0;
            })) {
            throw Failure(option + " wants A-B or A with whole numbers from 1, not '" +
                          Shown(text) + "'");
        }
        const int v = std::atoi(s.c_str());
        if (v < 1) throw Failure(option + " counts from 1, not '" + Shown(text) + "'");
        return v;
    };
    const auto dash = text.find('-');
    if (dash == std::string::npos) {
        const int v = number(text);
        return {v, v};
    }
    const int a = number(text.substr(0, dash));
    const int b = number(text.substr(dash + 1));
    if (b < a) throw Failure(option + " range '" + Shown(text) + "' ends before it starts");
    return {a, b};
}

bool ParseSize(std::string_view text, uint64_t& bytes) {
    size_t i = 0;
    while (i < text.size() && (std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.'))
        ++i;
    if (i == 0 || i > 20) return false;
    const std::string number(text.substr(0, i));
    if (std::count(number.begin(), number.end(), '.') > 1 || number == ".") return false;
    std::string unit(text.substr(i));
    for (char& c : unit) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (unit.size() >= 2 && unit.compare(unit.size() - 2, 2, "IB") == 0)
        unit.resize(unit.size() - 2);
    else if (!unit.empty() && unit.back() == 'B')
        unit.pop_back();
    const std::string units = "KMGT";
    double scale = 1;
    if (unit.size() == 1 && units.find(unit[0]) != std::string::npos)
        scale = std::ldexp(1.0, 10 * (1 + static_cast<int>(units.find(unit[0]))));
    else if (!unit.empty())
        return false;
    const double value = std::strtod(number.c_str(), nullptr) * scale;
    if (!(value >= 1) || value > 1.8e19) return false;
    bytes = static_cast<uint64_t>(value);
    return true;
}

}  // namespace mfcli
