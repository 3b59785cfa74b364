#include "report/report_outputs.h"

#include <iostream>

#include "report/fleet_walk.h"
#include "report/text_encodings.h"

namespace fs = std::filesystem;

ReportOutputs::ReportOutputs() { standardOutputFile_.UseStandardOutput(); }

void ReportOutputs::Ask(const char* option, const std::string& name) {
    if (!name.empty()) outputs_.push_back({option, name, nullptr, nullptr, nullptr});
}

std::string ReportOutputs::Open(const std::vector<fs::path>& inputs) {
    std::string inTheWay = OpenFiles();
    if (inTheWay.empty()) inTheWay = TwoForOneFile();
    if (inTheWay.empty()) inTheWay = LogThatIsStandardOutput(inputs);
    if (!inTheWay.empty()) {
        Abandon();
        return inTheWay;
    }
    for (Output& output : outputs_) {
        if (!output.file) continue;
        output.buffer = std::make_unique<OutputBuffer>(*output.file);
        output.stream = std::make_unique<std::ostream>(output.buffer.get());
    }
    return "";
}

std::ostream* ReportOutputs::Stream(const char* option) {
    for (Output& output : outputs_) {
        if (std::string(output.option) == option) {
            return output.file ? output.stream.get() : &standardOutput_;
        }
    }
    return nullptr;
}

std::string ReportOutputs::OutputThatIs(const std::optional<FileIdentity>& identity) const {
    return OutputThatIs(std::nullopt, identity);
}

void ReportOutputs::Abandon() {
    for (Output& output : outputs_) {
        if (output.file) output.file->Abandon();
    }
}

// A report that could not be written whole is trouble, whatever the logs say, and replaces no
// output; one written whole takes each output's place.
int ReportOutputs::Finish(int status) {
    const auto cantWrite = [&status](const std::string& name, const std::string& reason) {
        std::cerr << "castorel-report: can't write " << name << ": " << reason << "\n";
        status = kTrouble;
    };
    for (Output& output : outputs_) {
        if (!output.stream) continue;
        output.stream->flush();
        if (output.buffer->Failed()) {
            cantWrite(TerminalText(ValidUtf8(output.name)), output.buffer->Reason());
        }
    }
    for (Output& output : outputs_) {
        std::string reason;
        if (!output.file) continue;
        if (status == kTrouble) {
            output.file->Abandon();
        } else if (!output.file->Finish(reason)) {
            cantWrite(TerminalText(ValidUtf8(output.name)), reason);
        }
    }
    standardOutput_.flush();
    if (standardOutputBuffer_.Failed()) {
        cantWrite("standard output", standardOutputBuffer_.Reason());
    }
    return status;
}

// An output that leads to standard output's file is standard output.
std::string ReportOutputs::OpenFiles() {
    const std::optional<FileIdentity> standardOutput = StandardOutputIdentity();
    for (Output& output : outputs_) {
        if (output.name == "-") continue;
        output.file = std::make_unique<OutputFile>();
        std::string reason;
        if (!output.file->Open(output.name, reason)) {
            return "can't write " + output.name + ": " + reason;
        }
        if (standardOutput && output.file->Identity() == standardOutput) {
            output.file->Abandon();
            output.file.reset();
        }
    }
    return "";
}

std::string ReportOutputs::TwoForOneFile() const {
    for (size_t i = 0; i < outputs_.size(); ++i) {
        for (size_t j = i + 1; j < outputs_.size(); ++j) {
            const Output& a = outputs_[i];
            const Output& b = outputs_[j];
            const bool same = !a.file || !b.file
                                  ? !a.file && !b.file
                                  : a.file->Identity() && a.file->Identity() == b.file->Identity();
            if (same)
                return std::string(a.option) + " and " + b.option + " name one file: " + a.name;
        }
    }
    return "";
}

// Standard output is written as the logs are read, so where it is a regular file, which may be
// a log, every log the walk finds is asked who it is before anything is written. Other outputs
// are written beside their names, and each log is asked as it is read.
std::string ReportOutputs::LogThatIsStandardOutput(const std::vector<fs::path>& inputs) const {
    if (!StandardOutputIsRegularFile()) return "";
    const std::optional<FileIdentity> standardOutputFile = StandardOutputIdentity();
    FleetWalk walk(inputs);
    Input input;
    while (walk.Next(input)) {
        // Only regular files are read; what else a share holds is never opened, not even here.
        std::error_code error;
        if (!input.reason.empty() || (!input.regular && !fs::is_regular_file(input.path, error))) {
            continue;
        }
        const std::optional<FileIdentity> identity = input.folder
                                                         ? input.folder->Identify(input.name)
                                                         : IdentifyFile(input.path);
        std::string clash = OutputThatIs(standardOutputFile, identity);
        if (!clash.empty()) return clash;
    }
    return "";
}

// Standard output counts where it is a file (`standardOutputFile`).
std::string ReportOutputs::OutputThatIs(const std::optional<FileIdentity>& standardOutputFile,
                                        const std::optional<FileIdentity>& identity) const {
    if (!identity) return "";
    for (const Output& output : outputs_) {
        if (output.file && output.file->Writes(*identity)) {
            return std::string(output.option) + " names a log to read: " + output.name;
        }
    }
    return standardOutputFile == identity ? "standard output is a log to read" : "";
}
