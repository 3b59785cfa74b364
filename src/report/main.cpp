// castorel-report: reads a fleet's collected Castorel logs back and tells which PCs were
// serviced, which passed with nothing to do, which failed and why, and which never finished.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "report/fleet_report.h"
#include "report/fleet_walk.h"
#include "report/in_order.h"
#include "report/log_file.h"
#include "report/output_file.h"
#include "report/text_encodings.h"

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#endif

namespace fs = std::filesystem;

namespace {

// grep's convention: 1 is a log that needs a look, 2 is trouble.
constexpr int kUsageError = 2;
constexpr int kTrouble = 2;

// Threads that open and read logs side by side. A local disk serves two cores' worth; a share
// answers each open after a round trip, so more opens in flight hide the network's wait.
// Eight does both: on this machine's disk it costs nothing beside two (README).
constexpr size_t kDefaultJobs = 8;

// Logs handed to a thread at a time, and batches in flight for each thread, done or not yet
// written: enough that a slow open does not hold the others up. A reading holds at most a small
// log's rows.
constexpr size_t kBatch = 64;
constexpr size_t kBatchesPerJob = 4;

// Files the process holds open beside the logs in flight and the threads' own: standard
// streams, each output with the file written beside it and its folder, a folder for each level
// of the walk, a large log opened again.
constexpr size_t kFilesBeside = 32;

// How the logs in flight keep within the files the process may hold open: each holds its
// folder open until it is read, and a thread reading one holds the log too.
struct Flight {
    size_t jobs;    // threads, no more than can each hold a log open
    size_t batch;   // logs handed to a thread at a time
    size_t window;  // batches in flight, besides the one the walk is filling
};

Flight FlightWithin(size_t jobs) {
    const size_t allowed = OpenFilesAllowed(jobs * kBatchesPerJob * kBatch + kFilesBeside + jobs);
    const size_t spare = std::max(allowed > kFilesBeside ? allowed - kFilesBeside : 0, size_t{2});
    Flight flight{};
    flight.jobs = std::min(jobs, spare / 2);
    const size_t logs = spare - flight.jobs;
    flight.batch = std::clamp(logs / (flight.jobs * kBatchesPerJob + 1), size_t{1}, kBatch);
    flight.window = std::max(logs / flight.batch, size_t{2}) - 1;
    return flight;
}

// One output as asked for: its option, its name, and the file opened for it; standard output
// for `-`, and for a name that leads to standard output's own file (`/dev/stdout`).
struct Output {
    const char* option;
    std::string name;
    std::unique_ptr<OutputFile> file;  // null: standard output
};

// A number of threads as a person writes one: decimal digits and nothing else. Empty, or why
// it is no count.
std::string ReadJobs(const std::string& text, size_t& jobs) {
    constexpr size_t kMostJobs = 256;
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        return "--jobs: not a number: " + text;
    }
    const size_t significant = text.find_first_not_of('0');
    const bool fits = significant != std::string::npos && text.size() - significant <= 3;
    jobs = fits ? std::stoul(text.substr(significant)) : 0;
    return jobs >= 1 && jobs <= kMostJobs ? "" : "--jobs: not in range 1 to 256: " + text;
}

void AbandonOutputs(std::vector<Output>& outputs) {
    for (Output& output : outputs) {
        if (output.file) output.file->Abandon();
    }
}

// Opens every output before anything is written; an output that leads to standard output's
// file is standard output. Empty, or why they can't be written as asked.
std::string OpenOutputs(std::vector<Output>& outputs) {
    const std::optional<FileIdentity> standardOutput = StandardOutputIdentity();
    for (Output& output : outputs) {
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
    for (size_t i = 0; i < outputs.size(); ++i) {
        for (size_t j = i + 1; j < outputs.size(); ++j) {
            const Output& a = outputs[i];
            const Output& b = outputs[j];
            const bool same = !a.file || !b.file
                                  ? !a.file && !b.file
                                  : a.file->Identity() && a.file->Identity() == b.file->Identity();
            if (same)
                return std::string(a.option) + " and " + b.option + " name one file: " + a.name;
        }
    }
    return "";
}

// Which output, or standard output where it is a file (`standardOutputFile`), is the file of this
// identity: empty when none.
std::string OutputThatIs(const std::vector<Output>& outputs,
                         const std::optional<FileIdentity>& standardOutputFile,
                         const std::optional<FileIdentity>& identity) {
    if (!identity) return "";
    for (const Output& output : outputs) {
        if (output.file && output.file->Writes(*identity)) {
            return std::string(output.option) + " names a log to read: " + output.name;
        }
    }
    if (standardOutputFile == identity) {
        return "standard output is a log to read";
    }
    return "";
}

// Standard output is written as the logs are read, so where it is a regular file, which may be
// a log, every log the walk finds is asked who it is before anything is written: empty, or the
// clash. Other outputs are written beside their names, and each log is asked as it is read.
std::string LogThatIsStandardOutput(const std::vector<Output>& outputs,
                                    const std::vector<fs::path>& paths) {
    if (!StandardOutputIsRegularFile()) return "";
    const std::optional<FileIdentity> standardOutputFile = StandardOutputIdentity();
    FleetWalk walk(paths);
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
        std::string clash = OutputThatIs(outputs, standardOutputFile, identity);
        if (!clash.empty()) return clash;
    }
    return "";
}

int UsageError(const CLI::App& app, const std::string& what) {
    std::cerr << "castorel-report: " << TerminalText(ValidUtf8(what)) << "\n\n" << app.help();
    return kUsageError;
}

// Reads every input on `jobs` threads and writes what they come to in their order. False when a
// log turns out to be an output after all (put there since the outputs were judged).
bool ReadFleet(FleetReport& report, const std::vector<fs::path>& paths, size_t jobs,
               const std::vector<Output>& outputs, bool csv, bool json, std::string& clash) {
    FleetWalk walk(paths);
    const bool anyFile = std::any_of(outputs.begin(), outputs.end(),
                                     [](const Output& output) { return output.file != nullptr; });
    const Flight flight = FlightWithin(jobs);
    MapInOrder<Input, LogReading>(
        flight.jobs, flight.window, flight.batch,
        [&walk](Input& input) { return walk.Next(input); },
        [csv, json](const Input& input) { return FleetReport::ReadInput(input, csv, json); },
        [&](LogReading& reading) {
            if (anyFile) clash = OutputThatIs(outputs, std::nullopt, reading.identity);
            if (!clash.empty()) return false;
            report.Add(reading);
            return true;
        });
    return clash.empty();
}

int Report(int argc, char** argv) {
    CLI::App app{
        "Reads Castorel logs back: which PCs were serviced, which passed with nothing to "
        "do, which failed and why, which never finished.",
        "castorel-report"};
    std::string csvName;
    std::string jsonName;
    std::string htmlName;
    size_t jobs = kDefaultJobs;
    std::string jobsText;
    std::vector<std::string> paths;
    app.set_version_flag("--version", "castorel-report " CASTOREL_VERSION,
                         "Print the version and end");
    app.add_option("--csv", csvName, "Write one CSV row per run to FILE (- for standard output)")
        ->type_name("FILE");
    app.add_option("--json", jsonName,
                   "Write one JSON object per run and line to FILE (-: the same)")
        ->type_name("FILE");
    app.add_option("--html", htmlName, "Write the summary as one self-contained page to FILE")
        ->type_name("FILE");
    const CLI::Option* const jobsOption =
        app.add_option("--jobs", jobsText, "Open and read logs on N threads, 1 to 256 (default 8)")
            ->type_name("N");
    app.add_option("PATH", paths, "A log file, or a folder searched for files ending in .log")
        ->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::CallForVersion&) {
        std::cout << app.version() << "\n";
        return 0;
    } catch (const CLI::ParseError& error) {
        std::cerr << "castorel-report: " << TerminalText(ValidUtf8(error.what())) << "\n\n"
                  << app.help();
        return kUsageError;
    }
    if (jobsOption->count() > 0) {
        const std::string wrong = ReadJobs(jobsText, jobs);
        if (!wrong.empty()) return UsageError(app, wrong);
    }
    std::vector<fs::path> inputs;
    for (const std::string& path : paths) {
        const fs::path named = fs::u8path(path);
        std::error_code error;
        if (!fs::exists(fs::symlink_status(named, error))) {
            return UsageError(app, "no such file or folder: " + path);
        }
        inputs.push_back(named);
    }
    std::vector<Output> outputs;
    for (const auto& [option, name] : {std::pair{"--csv", &csvName}, std::pair{"--json", &jsonName},
                                       std::pair{"--html", &htmlName}}) {
        if (!name->empty()) outputs.push_back({option, *name, nullptr});
    }
    std::string inTheWay = OpenOutputs(outputs);
    if (inTheWay.empty()) inTheWay = LogThatIsStandardOutput(outputs, inputs);
    if (!inTheWay.empty()) {
        AbandonOutputs(outputs);
        return UsageError(app, inTheWay);
    }
    // Standard output too is written through a buffer of its own, so that a failed write is
    // known with its reason.
    OutputFile standardOutputFile;
    standardOutputFile.UseStandardOutput();
    OutputBuffer standardOutputBuffer(standardOutputFile);
    std::ostream standardOutput(&standardOutputBuffer);
    std::vector<std::unique_ptr<OutputBuffer>> buffers;
    std::vector<std::unique_ptr<std::ostream>> streams;
    std::vector<const std::string*> names;
    const auto streamOf = [&](const std::string& option) -> std::ostream* {
        for (Output& output : outputs) {
            if (output.option != option) continue;
            if (!output.file) return &standardOutput;
            buffers.push_back(std::make_unique<OutputBuffer>(*output.file));
            streams.push_back(std::make_unique<std::ostream>(buffers.back().get()));
            names.push_back(&output.name);
            return streams.back().get();
        }
        return nullptr;
    };
    std::ostream* const csv = streamOf("--csv");
    std::ostream* const json = streamOf("--json");
    std::ostream* const html = streamOf("--html");
    FleetReport report(csv, json);
    std::string clash;
    if (!ReadFleet(report, inputs, jobs, outputs, csv != nullptr, json != nullptr, clash)) {
        AbandonOutputs(outputs);
        return UsageError(app, clash);
    }
    if (html) report.PrintPage(*html);
    // A table on standard output keeps it to itself; the summary goes beside it.
    const bool tableOnStandardOutput = csv == &standardOutput || json == &standardOutput ||
                                       html == &standardOutput;
    report.PrintSummary(tableOnStandardOutput ? std::cerr : standardOutput);
    // A report that could not be written whole is trouble, whatever the logs say, and replaces
    // no output; one written whole takes each output's place.
    int status = report.ExitStatus();
    for (size_t i = 0; i < streams.size(); ++i) {
        streams[i]->flush();
        if (!buffers[i]->Failed()) continue;
        std::cerr << "castorel-report: can't write " << TerminalText(ValidUtf8(*names[i])) << ": "
                  << buffers[i]->Reason() << "\n";
        status = kTrouble;
    }
    for (Output& output : outputs) {
        std::string reason;
        if (!output.file) continue;
        if (status == kTrouble) {
            output.file->Abandon();
        } else if (!output.file->Finish(reason)) {
            std::cerr << "castorel-report: can't write " << TerminalText(ValidUtf8(output.name))
                      << ": " << reason << "\n";
            status = kTrouble;
        }
    }
    standardOutput.flush();
    if (standardOutputBuffer.Failed()) {
        std::cerr << "castorel-report: can't write standard output: "
                  << standardOutputBuffer.Reason() << "\n";
        status = kTrouble;
    }
    return status;
}

int Main(int argc, char** argv) {
    try {
        return Report(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "castorel-report: " << TerminalText(ValidUtf8(error.what())) << "\n";
        return 1;
    }
}

}  // namespace

#ifdef _WIN32
// Windows hands the arguments over as UTF-16; as UTF-8 they keep names in any script. The
// console shows the summary's UTF-8 as such, and a table on standard output keeps its CR LF.
int wmain(int argc, wchar_t** argv) {
    SetConsoleOutputCP(CP_UTF8);
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.push_back(Utf8(reinterpret_cast<const char16_t*>(argv[i])));
    }
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    return Main(argc, pointers.data());
}
#else
int main(int argc, char** argv) { return Main(argc, argv); }
#endif
