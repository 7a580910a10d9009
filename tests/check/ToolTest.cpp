// The zyr-check executable: exit status, table and JSON output, the default
// archive, and a machine without a display.
#include "CheckFixture.h"

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using ::testing::HasSubstr;

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs zyr-check in folder `cwd` with the test's environment plus `env`;
// stdout and stderr go to files in the test's folder.
ToolRun runTool(const TempDir& dir, const std::vector<std::string>& arguments, const std::filesystem::path& cwd,
            const std::vector<std::pair<std::string, std::string>>& env = {}) {
    const std::filesystem::path outPath = dir / "stdout.txt";
    const std::filesystem::path errPath = dir / "stderr.txt";
    std::vector<std::string> argv{ZYR_CHECK_BINARY};
    argv.insert(argv.end(), arguments.begin(), arguments.end());

    const pid_t pid = fork();
    if (pid == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(cwd.c_str()) != 0) _exit(127);
        for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> args;
        for (std::string& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    ToolRun run;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "zyr-check did not finish";
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = readFile(outPath);
    run.err = readFile(errPath);
    return run;
}

using Tool = CheckTest;

TEST_F(Tool, ExitStatusFollowsTheWorstFinding) {
    const std::filesystem::path clean = write(Content::clean(), "clean.dat");
    ToolRun run = runTool(dir, {clean.string()}, dir.path());
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("findings: 0 errors, 0 warnings"));

    const std::filesystem::path warned = write(Content::clean().remove("zyr.png"), "warned.dat");
    run = runTool(dir, {warned.string()}, dir.path());
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("findings: 0 errors, 1 warning"));

    const std::filesystem::path broken = write(Content::clean().remove("soundtrack.mp3"), "broken.dat");
    run = runTool(dir, {broken.string()}, dir.path());
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("findings: 1 error, 0 warnings"));

    run = runTool(dir, {(dir / "absent.dat").string()}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, HasSubstr("no such file"));
}

TEST_F(Tool, BadUsageIsStatusTwoWithTheUsageOnStandardError) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--jason"}, std::vector<std::string>{"a.dat", "b.dat"}}) {
        const ToolRun run = runTool(dir, arguments, dir.path());
        EXPECT_EQ(run.status, 2);
        EXPECT_THAT(run.err, HasSubstr("usage: zyr-check"));
        EXPECT_EQ(run.out, "");
    }
    const ToolRun help = runTool(dir, {"--help"}, dir.path());
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("usage: zyr-check"));
}

TEST_F(Tool, ChecksZyrDatInTheCurrentFolderByDefault) {
    write(Content::clean().remove("soundtrack.mp3"), "zyr.dat");
    const ToolRun run = runTool(dir, {}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, HasSubstr("archive  zyr.dat"));
    EXPECT_THAT(run.out, HasSubstr("no soundtrack.mp3"));
}

TEST_F(Tool, JsonIsValidAndCarriesTheFindings) {
    // Source lines from the archive hold arbitrary bytes; they end up in the
    // JSON as quotes of the offending lines.
    Content content = Content::clean();
    std::string source = content.files["fs.glsl"];
    source.insert(source.rfind('}'), "\tfloat x = \"\\\x01\xff\x1b[31m;\n");
    content.set("fs.glsl", source);
    content.remove("zyr.png");
    const std::filesystem::path archive = write(content, "odd.dat");

    const ToolRun run = runTool(dir, {"--json", archive.string()}, dir.path());
    EXPECT_EQ(run.status, 1) << run.err;
    nlohmann::json doc;
    ASSERT_NO_THROW(doc = nlohmann::json::parse(run.out)) << run.out;
    EXPECT_EQ(doc.at("exitStatus").get<double>(), 1.0);
    EXPECT_EQ(doc.at("errors").get<double>(), 1.0);
    EXPECT_EQ(doc.at("warnings").get<double>(), 1.0);
    const auto& findings = doc.at("findings");
    ASSERT_EQ(findings.size(), 2u);
    EXPECT_EQ(findings.at(0).at("code").get<std::string>(), "shader.compile");
    EXPECT_EQ(findings.at(0).at("severity").get<std::string>(), "error");
    EXPECT_EQ(findings.at(1).at("code").get<std::string>(), "logo.missing");
    EXPECT_EQ(findings.at(1).at("severity").get<std::string>(), "warning");

    const auto& log = doc.at("shader").at("compileLog");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.at(0).at("source").get<std::string>(), "\tfloat x = \"\\\x01\xEF\xBF\xBD\x1b[31m;");

    const auto& exports = doc.at("exports");
    ASSERT_EQ(exports.size(), 5u);
    EXPECT_EQ(exports.at(0).at("name").get<std::string>(), "camPos");
    EXPECT_EQ(exports.at(0).at("tracks").size(), 3u);
    EXPECT_EQ(doc.at("trackFiles").size(), 3u);
    EXPECT_EQ(doc.at("soundtrack").at("seconds").get<double>(), 1.0);

    // The table shows the same line without handing escape sequences to the terminal.
    const ToolRun table = runTool(dir, {archive.string()}, dir.path());
    EXPECT_THAT(table.out, HasSubstr("\\x01\\xFF\\x1B[31m"));
    EXPECT_EQ(table.out.find('\x1b'), std::string::npos);
}

TEST_F(Tool, WithoutADisplayItSaysSoAndChecksTheRest) {
    const std::filesystem::path archive = write(Content::clean().remove("zyr.png"), "zyr.dat");
    const ToolRun run = runTool(dir, {"--json", archive.string()}, dir.path(), {{"DISPLAY", ":31999"}});
    EXPECT_EQ(run.status, 1);
    const auto doc = nlohmann::json::parse(run.out);
    const auto& findings = doc.at("findings");
    ASSERT_EQ(findings.size(), 2u) << run.out;
    EXPECT_EQ(findings.at(0).at("code").get<std::string>(), "shader.no-context");
    EXPECT_EQ(findings.at(1).at("code").get<std::string>(), "logo.missing");
    EXPECT_EQ(doc.at("exports").size(), 5u);
    EXPECT_EQ(doc.at("trackFiles").size(), 3u);

    // The parameter file is read by the player's own reader, which needs no
    // context: its errors are reported without a display too.
    const std::filesystem::path broken =
        write(Content::clean().set("fsshader.ini", "[look]\nv0 = 1\n[look\n"), "broken.dat");
    const auto brokenDoc = nlohmann::json::parse(runTool(dir, {"--json", broken.string()}, dir.path(), {{"DISPLAY", ":31999"}}).out);
    const auto& brokenFindings = brokenDoc.at("findings");
    EXPECT_TRUE(std::any_of(brokenFindings.begin(), brokenFindings.end(), [](const auto& finding) {
        return finding.at("code").template get<std::string>() == "parameters.syntax" &&
               finding.at("where").template get<std::string>().rfind("fsshader.ini:3:", 0) == 0;
    })) << brokenDoc.dump();
}

TEST_F(Tool, TheDemosOwnArchiveHasNothingWrong) {
    const ToolRun run = runTool(dir, {"--json", ZYR_DEMO_ARCHIVE}, dir.path());
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    const auto doc = nlohmann::json::parse(run.out);
    EXPECT_EQ(doc.at("errors").get<double>(), 0.0) << run.out;
    EXPECT_TRUE(doc.at("shader").at("linked").get<bool>());
    EXPECT_TRUE(doc.at("soundtrack").at("decodable").get<bool>());
}

}  // namespace
