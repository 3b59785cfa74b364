// castorel-report: reads a fleet's collected Castorel logs back and tells which PCs were
// serviced, which passed with nothing to do, which failed and why, and which never finished.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "report/fleet_report.h"
#include "report/log_file.h"

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr int kUsageError = 2;

bool EndsInLog(const fs::path& path) {
    std::string extension = path.extension().u8string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".log";
}

// What the report reads, in order: a log, or a folder that could not be read, and why.
struct Input {
    fs::path path;
    bool named;          // named on the command line, not found in a folder
    std::string reason;  // a folder's that could not be read; empty for a log
};

// Every file below the folder whose name ends in .log, in order; links to folders are not
// followed, so no link can loop. A folder that can't be read is reported, and the rest read.
void FindLogs(const fs::path& root, std::vector<Input>& inputs) {
    std::vector<fs::path> folders{root};
    std::vector<fs::path> logs;
    while (!folders.empty()) {
        const fs::path folder = folders.back();
        folders.pop_back();
        std::error_code error;
        std::vector<fs::path> below;
        for (fs::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            std::error_code kind;
            if (it->symlink_status(kind).type() == fs::file_type::directory) {
                below.push_back(it->path());
            } else if (EndsInLog(it->path())) {
                logs.push_back(it->path());
            }
        }
        if (error) inputs.push_back({folder, false, error.message()});
        std::sort(below.rbegin(), below.rend());
        folders.insert(folders.end(), below.begin(), below.end());
    }
    std::sort(logs.begin(), logs.end());
    for (const fs::path& log : logs) inputs.push_back({log, false, ""});
}

// Standard output for "-"; otherwise the file, made anew.
std::ostream* OpenOutput(const std::string& name, std::ofstream& file) {
    if (name.empty()) return nullptr;
    if (name == "-") return &std::cout;
    file.open(fs::u8path(name), std::ios::binary | std::ios::trunc);
    return file ? &file : nullptr;
}

// An output as it is compared: the file it names where that exists, else its path made whole.
struct OutputTarget {
    std::string option;
    std::string name;
    std::optional<FileIdentity> identity;
    fs::path whole;
};

bool SameTarget(const OutputTarget& a, const OutputTarget& b) {
    if (a.name == "-" || b.name == "-") return a.name == b.name;
    if (a.identity && b.identity) return *a.identity == *b.identity;
    return IsSamePathSpelled(a.whole, b.whole);
}

// Why the outputs can't be written as asked: two name one file, or one names a log to read,
// which its making would empty before it was read. Empty when they can.
std::string OutputsInTheWay(const std::vector<OutputTarget>& outputs,
                            const std::vector<Input>& inputs) {
    for (size_t i = 0; i < outputs.size(); ++i) {
        for (size_t j = i + 1; j < outputs.size(); ++j) {
            if (SameTarget(outputs[i], outputs[j])) {
                return outputs[i].option + " and " + outputs[j].option +
                       " name one file: " + outputs[i].name;
            }
        }
    }
    // An output not there yet can't be a log; asking each log who it is costs Windows an open.
    const bool anyExists = std::any_of(outputs.begin(), outputs.end(),
                                       [](const OutputTarget& output) { return output.identity; });
    if (!anyExists) return "";
    for (const Input& input : inputs) {
        // Only regular files are read; what else a share holds is never opened, not even here.
        std::error_code error;
        if (!input.reason.empty() || !fs::is_regular_file(input.path, error)) continue;
        const std::optional<FileIdentity> identity = IdentifyFile(input.path);
        for (const OutputTarget& output : outputs) {
            if (identity && output.identity && *identity == *output.identity) {
                return output.option + " names a log to read: " + output.name;
            }
        }
    }
    return "";
}

std::vector<OutputTarget> OutputTargets(
    std::initializer_list<std::pair<const char*, const std::string*>> options) {
    std::vector<OutputTarget> targets;
    for (const auto& [option, name] : options) {
        if (name->empty()) continue;
        OutputTarget target{option, *name, std::nullopt, {}};
        if (*name != "-") {
            std::error_code error;
            target.identity = IdentifyFile(fs::u8path(*name));
            target.whole = fs::weakly_canonical(fs::absolute(fs::u8path(*name), error), error);
        }
        targets.push_back(std::move(target));
    }
    return targets;
}

int UsageError(const CLI::App& app, const std::string& what) {
    std::cerr << "castorel-report: " << TerminalText(ValidUtf8(what)) << "\n\n" << app.help();
    return kUsageError;
}

int Report(int argc, char** argv) {
    CLI::App app{
        "Reads Castorel logs back: which PCs were serviced, which passed with nothing to "
        "do, which failed and why, which never finished.",
        "castorel-report"};
    std::string csvName;
    std::string jsonName;
    std::string htmlName;
    std::vector<std::string> paths;
    app.add_option("--csv", csvName, "Write one CSV row per run to FILE (- for standard output)")
        ->type_name("FILE");
    app.add_option("--json", jsonName,
                   "Write one JSON object per run and line to FILE (-: the same)")
        ->type_name("FILE");
    app.add_option("--html", htmlName, "Write the summary as one self-contained page to FILE")
        ->type_name("FILE");
    app.add_option("PATH", paths, "A log file, or a folder searched for files ending in .log")
        ->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::ParseError& error) {
        std::cerr << "castorel-report: " << TerminalText(ValidUtf8(error.what())) << "\n\n"
                  << app.help();
        return kUsageError;
    }
    std::vector<Input> inputs;
    for (const std::string& path : paths) {
        const fs::path named = fs::u8path(path);
        std::error_code error;
        if (!fs::exists(fs::symlink_status(named, error))) {
            return UsageError(app, "no such file or folder: " + path);
        }
        if (fs::is_directory(named, error)) FindLogs(named, inputs);
        else inputs.push_back({named, true, ""});
    }
    const std::string inTheWay = OutputsInTheWay(
        OutputTargets({{"--csv", &csvName}, {"--json", &jsonName}, {"--html", &htmlName}}), inputs);
    if (!inTheWay.empty()) return UsageError(app, inTheWay);
    std::ofstream csvFile;
    std::ofstream jsonFile;
    std::ofstream htmlFile;
    std::ostream* const csv = OpenOutput(csvName, csvFile);
    std::ostream* const json = OpenOutput(jsonName, jsonFile);
    std::ostream* const html = OpenOutput(htmlName, htmlFile);
    for (const auto& [name, stream] :
         {std::pair{csvName, csv}, std::pair{jsonName, json}, std::pair{htmlName, html}}) {
        if (!name.empty() && !stream) {
            std::cerr << "castorel-report: can't write " << TerminalText(ValidUtf8(name)) << "\n";
            return kUsageError;
        }
    }
    FleetReport report(csv, json);
    for (const Input& input : inputs) {
        if (input.reason.empty()) report.Read(input.path, input.named);
        else report.Unreadable(input.path, input.reason);
    }
    if (html) report.PrintPage(*html);
    // A table on standard output keeps it to itself; the summary goes beside it.
    const bool tableOnStandardOutput = csv == &std::cout || json == &std::cout ||
                                       html == &std::cout;
    report.PrintSummary(tableOnStandardOutput ? std::cerr : std::cout);
    return report.ExitStatus();
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
