// The outputs a report is asked for: opened and judged together before any log is read, written
// as the logs are, and at the end each put in its place whole, or left as it was.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "report/log_file.h"
#include "report/output_file.h"

class ReportOutputs {
  public:
    ReportOutputs();
    ReportOutputs(const ReportOutputs&) = delete;
    ReportOutputs& operator=(const ReportOutputs&) = delete;

    /// Asks for the output `name` (`-`: standard output) under its option, as messages name it;
    /// an empty name asks for nothing.
    void Ask(const char* option, const std::string& name);

    /// Opens every output asked for before anything is written: an output that leads to
    /// standard output's file is standard output. Empty, or why they can't be written as asked
    /// (two outputs that name one file; standard output's file, where it is a regular file, a
    /// log among `inputs`), with every output then left as it was.
    std::string Open(const std::vector<std::filesystem::path>& inputs);

    /// The stream of the output asked for under `option`; null where none was.
    std::ostream* Stream(const char* option);

    /// Standard output, through a buffer of its own, so that a failed write is known with its
    /// reason.
    std::ostream& StandardOutput() { return standardOutput_; }

    /// Which output is the file of this identity, said as a usage error; empty when none.
    std::string OutputThatIs(const std::optional<FileIdentity>& identity) const;

    /// Leaves every output as it was.
    void Abandon();

    /// Flushes and checks every output. Where all were written whole, each takes its output's
    /// place and `status` is kept; else each is left as it was, the reason said on standard
    /// error, and kTrouble returned.
    int Finish(int status);

    static constexpr int kTrouble = 2;

  private:
    struct Output {
        const char* option;
        std::string name;
        std::unique_ptr<OutputFile> file;  // null: standard output
        std::unique_ptr<OutputBuffer> buffer;
        std::unique_ptr<std::ostream> stream;
    };

    std::string OpenFiles();
    std::string TwoForOneFile() const;
    std::string LogThatIsStandardOutput(const std::vector<std::filesystem::path>& inputs) const;
    std::string OutputThatIs(const std::optional<FileIdentity>& standardOutputFile,
                             const std::optional<FileIdentity>& identity) const;

    std::vector<Output> outputs_;
    OutputFile standardOutputFile_;
    OutputBuffer standardOutputBuffer_{standardOutputFile_};
    std::ostream standardOutput_{&standardOutputBuffer_};
};
