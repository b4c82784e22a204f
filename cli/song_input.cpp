#include "song_input.h"

#include <unistd.h>

#include <cstdio>

#include "common.h"

using namespace midifolio;

namespace mfcli {

bool IsStdio(const std::string& path) {
    return path == "-";
}

std::string GivenName(const std::string& path, const char* stdio) {
    return IsStdio(path) ? stdio : path;
}

std::string InputName(const std::string& path) {
    return EscapeControls(GivenName(path));
}

uint64_t MemoryBudget(const CommonOptions& options) {
    if (options.maxMemory != 0) return options.maxMemory;
    const long pages = ::sysconf(_SC_PHYS_PAGES), size = ::sysconf(_SC_PAGE_SIZE);
    return pages > 0 && size > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(size) / 2
                                 : uint64_t{1} << 32;
}

InputSong::InputSong(const std::string& path, score::Song song, uint64_t budget)
    : name_(InputName(path)),
      given_(GivenName(path)),
      song_(std::move(song)),
      score_(std::make_unique<score::Score>(song_)),
      budget_(budget) {}

CMidiFolio& InputSong::Core() {
    if (core_) return *core_;
    // An event node of the library's classes takes 40 bytes, its list and payloads more.
    const uint64_t need = song_.events() * 64 + song_.bytes().size();
    if (need > budget_) {
        throw Failure(name_ + ": too large: the library's own classes would take about " +
                      SizeText(need) + ", more than the memory budget of " + SizeText(budget_) +
                      " (--max-memory)");
    }
    auto core = std::make_unique<CMidiFolio>();
    std::string refusal;
    core->SetMessageSink([&refusal](const std::string& text) { refusal = text; });
    if (song_.BuildCore(*core) != 1) {
        const LoadReport report = core->GetLoadReport();
        throw Failure(name_ + ": the library's own classes cannot hold this song: " + refusal +
                      (report.cause.empty() ? "" : " (" + report.cause + ")"));
    }
    core->SetMessageSink(DefaultMessageSink());
    core_ = std::move(core);
    return *core_;
}

CMidiFolio* InputSong::TryCore(std::string* refusal) {
    try {
        return &Core();
    } catch (const Failure& f) {
        if (refusal != nullptr) *refusal = f.what();
        return nullptr;
    }
}

namespace {

void Tell(const std::string& name, const char* what, const std::string& text) {
    const std::string line = "midifolio: " + name + ": " + what + EscapeControls(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

InputSong ReadSong(const std::string& path, const CommonOptions& options, bool notes) {
    const std::string name = InputName(path);
    TerminalProgress progress("reading", name, !options.noProgress);
    score::ReadOptions read;
    read.recover = options.recover;
    read.max_memory = MemoryBudget(options);
    read.notes = notes;
    read.progress = &progress;
    score::ReadReport report;
    // Standard input is read as it arrives (a pipe cannot seek), bounded like any file.
    score::Song song = score::Song::Load(IsStdio(path) ? "/dev/stdin" : path, read, report);
    progress.Clear();
    if (!report.ok()) {
        if (report.status == score::ReadStatus::kCannotOpen)
            throw Failure(name + ": " + report.message);
        std::string why = report.Text();
        if (report.status == score::ReadStatus::kTooLarge) why += " (--max-memory)";
        if (report.status == score::ReadStatus::kDamaged && !options.recover)
            why += " (--recover reads what comes before it)";
        throw Failure(name + ": " + EscapeControls(why));
    }
    for (const score::ReadIssue& w : report.warnings) Tell(name, "warning: ", w.text);
    for (const score::ReadIssue& d : report.dropped) Tell(name, "recovered: left out ", d.text);
    if (options.strict && !report.warnings.empty()) {
        throw Failure(name + ": refused under --strict: " +
                      Plural(static_cast<long long>(report.warnings.size()), "warning"));
    }
    return InputSong(path, std::move(song), read.max_memory);
}

}  // namespace mfcli
