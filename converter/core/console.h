// What a command-line run of vellumate says on the terminal, beside its exit
// status: the usage text (--help), the version (--version), the one line a
// failed run writes to standard error, and the progress line while it works.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "progress.h"
#include "run_subject.h"

namespace vellumate {

// argv[1] of the switches every Linux program answers. They are looked at
// before the command line is rebuilt, so "/help", "/?" and "/h" keep their
// own meaning.
enum class StandardOption { None, Help, Version };
StandardOption StandardOptionOf(int argc, char** argv);

// The usage summary; `programFolder` is where relative sources are taken from.
std::string UsageText(const std::string& programName, const std::string& programFolder);
// "<name> <major.minor.patch>".
std::string VersionText(const std::string& programName);

// The message of a failed run (no program name, no code): the Parts' own
// text where one exists, else a plain description naming the file, list,
// folder or address the run was at.
std::string FailureText(std::int32_t code, const RunSubject& subject);
// True when VELLUMATE_QUIET asks for silence (set, not empty and not "0").
bool QuietRequested();
// Writes "<program>: <message> (<code>)" as one line on standard error,
// unless the run succeeded or silence was asked for.
void ReportFailure(const std::string& programName, std::int32_t code, const RunSubject& subject);

// From now on SIGINT, SIGTERM and SIGHUP only note the signal, so that the
// run stops at its next check and cleans up as a cancelled one does (output
// and temporary files deleted); a second signal ends the program at once.
void CatchInterrupts();
// The signal caught, 0 when none.
int InterruptSignal();
// After the clean-up: ends the program by the signal caught, as the shell
// expects of an interrupted program (status 128 + signal). Returns when none was caught.
void ExitByInterrupt();

// The progress of a command-line run: one line on the terminal, "file i of
// n: NAME: topic t of T" and the elapsed time (nothing is drawn when
// standard error is no terminal), and cancelled by a caught interrupt.
class TerminalProgress final : public IProgress {
public:
    TerminalProgress();
    ~TerminalProgress() override;
    bool Active() const;

    bool Cancelled() const override { return InterruptSignal() != 0; }
    void Advance(int) override {}
    void SetStatus(const std::string&) override {}
    void FileStarted(int index, int count, const std::string& source) override;
    void Counted(Work work, int done, int total) override;

    // The text shown for a state (the elapsed time is added by the line).
    static std::string Describe(int index, int count, const std::string& name, Work work, int done, int total);

private:
    struct Members;
    std::unique_ptr<Members> m_;
};

}  // namespace vellumate
