// The fleet's summary as one self-contained page: no script, nothing fetched, a bar chart drawn
// as inline SVG. Every text from a log or a path is escaped: anyone may have named a PC's
// folder or written into a log.
#include <algorithm>
#include <string>
#include <vector>

#include "log/copy_errors.h"
#include "report/fleet_report.h"
#include "report/text_encodings.h"

namespace {

constexpr int kChartWidth = 720;
constexpr int kLabelWidth = 300;
constexpr int kBarHeight = 22;
constexpr int kRowHeight = 30;

struct Bar {
    std::string label;
    size_t logs;
    const char* color;
};

void Chart(std::ostream& out, const std::vector<Bar>& bars) {
    size_t most = 1;
    for (const Bar& bar : bars) most = std::max(most, bar.logs);
    const int height = static_cast<int>(bars.size()) * kRowHeight;
    out << "<svg id=\"chart\" role=\"img\" aria-label=\"Logs by their last run\" width=\""
        << kChartWidth << "\" height=\"" << height << "\" viewBox=\"0 0 " << kChartWidth << ' '
        << height << "\" xmlns=\"http://www.w3.org/2000/svg\">\n";
    int y = 0;
    for (const Bar& bar : bars) {
        const int room = kChartWidth - kLabelWidth - 60;
        const auto width = static_cast<int>(static_cast<size_t>(room) * bar.logs / most);
        out << "<text x=\"0\" y=\"" << y + 16 << "\">" << HtmlText(bar.label) << "</text>"
            << "<rect x=\"" << kLabelWidth << "\" y=\"" << y << "\" width=\"" << width
            << "\" height=\"" << kBarHeight << "\" fill=\"" << bar.color << "\"/>"
            << "<text x=\"" << kLabelWidth + width + 6 << "\" y=\"" << y + 16 << "\">" << bar.logs
            << "</text>\n";
        y += kRowHeight;
    }
    out << "</svg>\n";
}

// Cells from a log or a path are isolated from their neighbours (`isolated`).
void Table(std::ostream& out, const char* id, const std::vector<std::string>& headings,
           const std::vector<std::vector<std::string>>& rows, bool isolated = false) {
    out << "<table id=\"" << id << "\"><tr>";
    for (const std::string& heading : headings) out << "<th>" << HtmlText(heading) << "</th>";
    out << "</tr>\n";
    for (const auto& row : rows) {
        out << "<tr>";
        for (const std::string& cell : row) {
            out << "<td>" << (isolated ? IsolatedHtmlText(cell) : HtmlText(cell)) << "</td>";
        }
        out << "</tr>\n";
    }
    out << "</table>\n";
}

}  // namespace

void FleetReport::PrintPage(std::ostream& out) const {
    out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<title>Castorel fleet report</title>\n<style>body{font-family:sans-serif;margin:2em;"
           "color:#222}table{border-collapse:collapse;margin-bottom:1.5em}th,td{padding:.25em "
           ".8em;text-align:left;border-bottom:1px solid #ccc}svg text{font-size:14px}"
           "</style></head>\n<body>\n<h1>Castorel fleet report</h1>\n<p id=\"read\">"
        << HtmlText(ReadLine()) << "</p>\n<h2>Logs by their last run</h2>\n";
    std::vector<Bar> bars{
        {StateWords(LogState::Serviced), Count(LogState::Serviced), "#2e7d32"},
        {StateWords(LogState::NothingToDo), Count(LogState::NothingToDo), "#607d8b"}};
    if (Count(LogState::PassedCopyUnknown) > 0) {
        bars.push_back({StateWords(LogState::PassedCopyUnknown), Count(LogState::PassedCopyUnknown),
                        "#8d6e63"});
    }
    std::vector<std::vector<std::string>> errors;
    for (const auto& [error, logs] : failedByError_) {
        const char* meaning = error < 0 ? "no error number"
                                        : CopyErrorMeaningOf(static_cast<int>(error));
        const std::string number = error < 0 ? "" : std::to_string(error);
        bars.push_back({StateWords(LogState::Failed) + (" " + number), logs, "#c62828"});
        errors.push_back({number, meaning ? meaning : "no meaning known", std::to_string(logs)});
    }
    bars.push_back({StateWords(LogState::NoResult), Count(LogState::NoResult), "#ef6c00"});
    bars.push_back({StateWords(LogState::Unreadable), Count(LogState::Unreadable), "#6a1b9a"});
    Chart(out, bars);
    std::vector<std::vector<std::string>> states;
    states.reserve(bars.size());
    for (const Bar& bar : bars) states.push_back({bar.label, std::to_string(bar.logs)});
    Table(out, "states", {"last run", "logs"}, states);
    out << "<h2>Error numbers</h2>\n";
    Table(out, "errors", {"error", "meaning", "logs"}, errors);
    out << "<h2>Logs that need a look</h2>\n";
    std::vector<std::vector<std::string>> looks;
    for (const Look& look : looks_) {
        looks.push_back({look.path, look.started, look.drives, look.state});
    }
    Table(out, "looks", {"log", "last run started", "fixed drives", "state"}, looks, true);
    if (moreLooks_ > 0) out << "<p id=\"more\">and " << moreLooks_ << " more</p>\n";
    out << "</body></html>\n";
}
