// Problems: what is wrong with the content in the author's terms (the file,
// line and column, the line itself, the message), and the board the overlay
// and standard error show them from, one list per topic.
//
// Use:
//     ProblemBoard board;
//     board.set(Topic::Shader, shaderProblems(source, log));   // printed once to stderr
//     board.set(Topic::Shader, {});                             // fixed: gone from the overlay
//     for (const auto& [part, list] : board.all()) ...
//
// A topic's list replaces the one it had; an unchanged list prints nothing
// again. Tabs in quoted lines become single spaces, so a caret drawn under
// the column lands under it.
//
// Ownership: plain values.
//
// Failure: none; a file that cannot be read for quoting is quoted as nothing.
#pragma once

#include "ContentFolder.h"

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

class ParameterFileError;

namespace zyr::studio {

inline constexpr const char* kShaderEntry = "fs.glsl";
inline constexpr const char* kMusicEntry = "soundtrack.mp3";
inline constexpr const char* kParameterEntry = "fsshader.ini";

// What a list of problems is about: a part of the folder, or the studio's own
// work with it (saving the tracks, watching the folder).
enum class Topic { Shader, Parameters, Tracks, TrackSave, Song, Watch };

struct Problem {
    std::string where;    // "fs.glsl:12:5", or the file alone, or nothing
    std::string message;
    std::string source;   // the line it points at; empty when none
    int column = 0;       // 1-based; 0 when none

    friend bool operator==(const Problem&, const Problem&) = default;
};

// Line n (1-based) of text, without its line break; empty past the end.
std::string lineOf(std::string_view text, int n);

// The shader's info log at the author's lines, one problem per offending line:
// follow-up errors on a line fold into the first.
std::vector<Problem> shaderProblems(const std::string& source, const std::string& log);
// A content library error, its file named relative to folder and its line quoted.
std::vector<Problem> contentProblems(const content::ContentError& error, const std::filesystem::path& folder);
// A parameter file that does not read, at its line and column in text.
Problem parameterProblem(const ParameterFileError& error, std::string_view text);

class ProblemBoard {
public:
    void set(Topic topic, std::vector<Problem> problems);
    bool any() const;
    const std::map<Topic, std::vector<Problem>>& all() const { return topics_; }

private:
    std::map<Topic, std::vector<Problem>> topics_;
};

}  // namespace zyr::studio
