// The files the report writes, where Linux and Windows differ: each output opened before anything
// is written and judged by the file its open reached, so that no output is written over a log,
// another output or standard output's file, and put in place only once written whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <streambuf>
#include <string>

#include "report/log_file.h"

/// An output, opened before anything is written. A regular file, or a name where none is yet,
/// is written beside it under a name of its own and put in its place only once written whole,
/// so that a report that is stopped, killed or fails leaves what was there as it was; a link is
/// followed to where it leads, and the file written there. Anything else (a FIFO, a device,
/// standard output's file) is written in place, through the one open.
class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    /// Opens the output a UTF-8 name leads to; false, with `reason` saying why, when it can't
    /// be opened or written beside.
    bool Open(const std::string& name, std::string& reason);

    /// Writes to standard output as it is, never closing it.
    void UseStandardOutput();

    /// Who the file at the name is now (what a finished report replaces, or what it writes in
    /// place); nothing where there is none yet, or the system can't tell (a pipe on Windows).
    const std::optional<FileIdentity>& Identity() const { return identity_; }

    /// Whether the file of this identity is one this output writes: the one at its name, or
    /// the one written beside it.
    bool Writes(const FileIdentity& identity) const;

    /// Writes all the bytes after those written before; false on a failure, with `reason`
    /// saying why.
    bool Write(const char* bytes, size_t count, std::string& reason) const;

    /// Puts what was written in the output's place, replacing what was there; false, with
    /// `reason`, when it can't be (what was there is then left as it was).
    bool Finish(std::string& reason);

    /// Leaves the output as it was: what was written beside it is removed, and so is a file
    /// the open made at its name. An output never finished is abandoned when destroyed.
    void Abandon();

  private:
    bool WriteBeside(std::string& reason);

    intptr_t handle_ = -1;  // the file at the name: written only where in place
    bool owned_ = true;     // false: standard output's, which stays open
    std::optional<FileIdentity> identity_;
    bool made_ = false;             // the open made the file at the name
    std::filesystem::path target_;  // the file at the name, links followed: what is replaced
    intptr_t folder_ = -1;          // on Linux, its folder, held: both files are named in it
    intptr_t beside_ = -1;          // the file written beside it; -1: written in place
    std::filesystem::path besidePath_;
    std::optional<FileIdentity> besideIdentity_;
};

/// Writes through an output file's own open, in blocks; remembers why a write failed.
class OutputBuffer : public std::streambuf {
  public:
    explicit OutputBuffer(OutputFile& file) : file_(file) { setp(block_, block_ + sizeof block_); }
    bool Failed() const { return failed_; }
    const std::string& Reason() const { return reason_; }

  protected:
    int_type overflow(int_type c) override {
        if (!Flush()) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) sputc(traits_type::to_char_type(c));
        return traits_type::not_eof(c);
    }
    int sync() override { return Flush() ? 0 : -1; }

  private:
    bool Flush() {
        const auto count = static_cast<size_t>(pptr() - pbase());
        if (!failed_ && count > 0 && !file_.Write(pbase(), count, reason_)) failed_ = true;
        setp(block_, block_ + sizeof block_);
        return !failed_;
    }

    OutputFile& file_;
    char block_[64 * 1024];
    bool failed_ = false;
    std::string reason_;
};
