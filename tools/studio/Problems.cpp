#include "Problems.h"

#include "CompileLog.h"
#include "FileWrite.h"
#include "ParameterFile.h"
#include "PathText.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

namespace zyr::studio {

namespace fs = std::filesystem;

std::string lineOf(std::string_view text, int n) {
    if (n <= 0) return {};
    std::size_t start = 0;
    for (int i = 1; i < n; ++i) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) return {};
        start = end + 1;
    }
    std::string_view line = text.substr(start, text.find('\n', start) - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return std::string(line);
}

std::vector<Problem> shaderProblems(const std::string& source, const std::string& log) {
    const SourceLines lines(source);
    std::vector<Problem> problems;
    int previousLine = -1;
    for (const LogEntry& entry : parseInfoLog(log, lines)) {
        if (entry.severity != "error") continue;
        if (entry.line > 0 && entry.line == previousLine && !problems.empty()) {
            problems.back().message += "; " + entry.message;
            continue;
        }
        previousLine = entry.line;
        Problem problem;
        if (entry.fileLine > 0) problem.where = content::place(kShaderEntry, entry.fileLine, entry.column);
        else if (entry.line > 0) problem.where = std::string(kShaderEntry) + " (compiler line " + std::to_string(entry.line) + ")";
        else problem.where = kShaderEntry;
        problem.message = "error: " + entry.message;
        problem.source = entry.source;
        problem.column = entry.fileLine > 0 ? entry.column : 0;
        problems.push_back(std::move(problem));
    }
    if (problems.empty()) {
        // A failure whose log names no error is still shown.
        std::string first = log.substr(0, log.find('\n'));
        problems.push_back({kShaderEntry, "does not build: " + (first.empty() ? std::string("empty log") : first), {}, 0});
    }
    return problems;
}

std::vector<Problem> contentProblems(const content::ContentError& error, const fs::path& folder) {
    std::vector<Problem> problems;
    const std::string prefix = content::place(error.file(), error.line(), error.column()) + ": ";
    // The author knows a file by its place in the folder.
    const std::string root = toUtf8(folder / "");
    const auto relative = [&](std::string text) {
        if (!folder.empty() && text.starts_with(root)) text.erase(0, root.size());
        return text;
    };
    Problem first;
    first.where = content::place(relative(error.file()), error.line(), error.column());
    const std::string what = error.what();
    first.message = what.starts_with(prefix) ? what.substr(prefix.size()) : what;
    if (error.line() > 0) {
        // The library names a folder's file by the folder's path joined to its own.
        const fs::path file = pathFromUtf8(error.file());
        const bool joined = file.is_absolute() || folder.empty() || error.file().starts_with(root);
        std::optional<std::string> text;
        try {
            text = readFileIfPresent(joined ? file : folder / file);
        } catch (const FileError&) {
            // Quoted as nothing; the message still names the place.
        }
        if (text) first.source = lineOf(*text, error.line());
        first.column = error.column();
    }
    problems.push_back(std::move(first));
    // Every further problem as the library words it, place included.
    for (std::size_t i = 1; i < error.messages().size(); ++i) problems.push_back({{}, relative(error.messages()[i]), {}, 0});
    return problems;
}

Problem parameterProblem(const ParameterFileError& error, std::string_view text) {
    const int line = static_cast<int>(error.line());
    const int column = static_cast<int>(error.column());
    return {content::place(kParameterEntry, line, column), error.description(), lineOf(text, line), column};
}

void ProblemBoard::set(Topic topic, std::vector<Problem> problems) {
    for (Problem& problem : problems) std::replace(problem.source.begin(), problem.source.end(), '\t', ' ');
    std::vector<Problem>& current = topics_[topic];
    if (problems == current) return;
    for (const Problem& problem : problems)
        std::fprintf(stderr, "zyr-studio: %s%s%s\n", problem.where.c_str(), problem.where.empty() ? "" : ": ",
                     problem.message.c_str());
    current = std::move(problems);
}

bool ProblemBoard::any() const {
    return std::any_of(topics_.begin(), topics_.end(), [](const auto& topic) { return !topic.second.empty(); });
}

}  // namespace zyr::studio
