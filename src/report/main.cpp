// castorel-report: reads a fleet's collected Castorel logs back and tells which PCs were
// serviced, which passed with nothing to do, which failed and why, and which never finished.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "report/fleet_report.h"
#include "report/fleet_walk.h"
#include "report/in_order.h"
#include "report/log_file.h"
#include "report/report_outputs.h"
#include "report/text_encodings.h"

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#endif

namespace fs = std::filesystem;

namespace {

// grep's convention: 1 is a log that needs a look, 2 is trouble.
constexpr int kUsageError = ReportOutputs::kTrouble;

// Threads that open and read logs side by side. A local disk serves two cores' worth; a share
// answers each open after a round trip, so more opens in flight hide the network's wait.
// Eight does both: on this machine's disk it costs nothing beside two (bench/README.md).
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

int UsageError(const CLI::App& app, const std::string& what) {
    std::cerr << "castorel-report: " << TerminalText(ValidUtf8(what)) << "\n\n" << app.help();
    return kUsageError;
}

// Reads every input on `jobs` threads and writes what they come to in their order. Empty, or
// the output a log turned out to be after all (put there since the outputs were judged).
std::string ReadFleet(FleetReport& report, const std::vector<fs::path>& paths, size_t jobs,
                      const ReportOutputs& outputs, bool csv, bool json) {
    FleetWalk walk(paths);
    const Flight flight = FlightWithin(jobs);
    std::string clash;
    MapInOrder<Input, LogReading>(
        flight.jobs, flight.window, flight.batch,
        [&walk](Input& input) { return walk.Next(input); },
        [csv, json](const Input& input) { return FleetReport::ReadInput(input, csv, json); },
        [&](LogReading& reading) {
            clash = outputs.OutputThatIs(reading.identity);
            if (!clash.empty()) return false;
            report.Add(reading);
            return true;
        });
    return clash;
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
    ReportOutputs outputs;
    outputs.Ask("--csv", csvName);
    outputs.Ask("--json", jsonName);
    outputs.Ask("--html", htmlName);
    const std::string inTheWay = outputs.Open(inputs);
    if (!inTheWay.empty()) return UsageError(app, inTheWay);
    std::ostream* const csv = outputs.Stream("--csv");
    std::ostream* const json = outputs.Stream("--json");
    std::ostream* const html = outputs.Stream("--html");
    FleetReport report(csv, json);
    const std::string clash = ReadFleet(report, inputs, jobs, outputs, csv != nullptr,
                                        json != nullptr);
    if (!clash.empty()) {
        outputs.Abandon();
        return UsageError(app, clash);
    }
    if (html) report.PrintPage(*html);
    // A table on standard output keeps it to itself; the summary goes beside it.
    std::ostream& standardOutput = outputs.StandardOutput();
    const bool tableOnStandardOutput = csv == &standardOutput || json == &standardOutput ||
                                       html == &standardOutput;
    report.PrintSummary(tableOnStandardOutput ? std::cerr : standardOutput);
    return outputs.Finish(report.ExitStatus());
}

int Main(int argc, char** argv) {
    try {
        return Report(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "castorel-report: " << TerminalText(ValidUtf8(error.what())) << "\n";
        return ReportOutputs::kTrouble;
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
