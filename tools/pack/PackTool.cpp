// zyr-pack's command and packFolder: a content folder, source or ready,
// through the content library into an archive.
#include "PackTool.h"

#include "ContentFolder.h"
#include "PathText.h"

#include <ostream>

namespace zyr {

namespace fs = std::filesystem;

PackPlan packFolder(const fs::path& folder, const fs::path& output, const std::optional<fs::path>& defaultLogo) {
    PackPlan plan;
    std::error_code code;
    if (fs::is_directory(output, code)) {
        // Said before the folder is read, let alone a song rendered.
        plan.errors.push_back(toUtf8(output) + ": is a folder");
        return plan;
    }
    try {
        content::FolderOptions options;
        options.output = output;
        options.defaultLogo = defaultLogo;
        const std::vector<content::Entry> entries = content::folderEntries(folder, options, &plan.warnings);
        content::writeArchive(entries, output, &plan.warnings);
        for (const content::Entry& entry : entries) plan.items.push_back(PackItem{entry.name, {}, entry.bytes.size()});
    } catch (const content::ContentError& error) {
        plan.errors = error.messages();
        plan.items.clear();
    }
    return plan;
}

int runPackTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> positional;
    std::optional<fs::path> logo;
    bool usage = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--logo" && i + 1 < args.size() && !logo && !args[i + 1].empty())
            logo = pathFromUtf8(args[++i]);
        else if (args[i].starts_with("--"))
            usage = true;
        else
            positional.push_back(args[i]);
    }
    if (usage || positional.size() != 2 || positional[0].empty() || positional[1].empty()) {
        err << "usage: zyr-pack FOLDER OUTPUT [--logo PNG]\n";
        return 2;
    }
    const PackPlan plan = packFolder(pathFromUtf8(positional[0]), pathFromUtf8(positional[1]), logo);
    for (const std::string& warning : plan.warnings) err << "zyr-pack: warning: " << warning << "\n";
    for (const std::string& error : plan.errors) err << "zyr-pack: " << error << "\n";
    if (!plan.errors.empty()) {
        err << "zyr-pack: nothing written\n";
        return 1;
    }
    out << "zyr-pack: " << plan.items.size() << (plan.items.size() == 1 ? " entry" : " entries") << " into "
        << positional[1] << "\n";
    return 0;
}

}  // namespace zyr
