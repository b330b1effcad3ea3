// Usage advice from the parser's own option and command tables.
#include "cli/usage_advice.h"

#include <algorithm>
#include <cstdio>

#include "cli/json_output.h"
#include "cli/target_text.h"

namespace {

std::vector<const CLI::App*> commandsOf(const CLI::App& app) {
    return app.get_subcommands([](const CLI::App*) { return true; });
}

const CLI::App* commandNamed(const CLI::App& app, const std::string& word) {
    for (const CLI::App* command : commandsOf(app)) {
        if (command->get_name() == word) return command;
    }
    return nullptr;
}

// "--jobs" and "-q" as typed, for each of the owner's options; nullptr when none has the name.
const CLI::Option* optionNamed(const CLI::App& owner, const std::string& name) {
    for (const CLI::Option* option : owner.get_options()) {
        for (const std::string& longName : option->get_lnames()) {
            if (name == "--" + longName) return option;
        }
        for (const std::string& shortName : option->get_snames()) {
            if (name == "-" + shortName) return option;
        }
    }
    return nullptr;
}

std::vector<std::string> longNames(const CLI::App& owner) {
    std::vector<std::string> names;
    for (const CLI::Option* option : owner.get_options()) {
        for (const std::string& longName : option->get_lnames()) names.push_back("--" + longName);
    }
    return names;
}

// "enter-bootload and upgrade": the commands that have the option.
std::string ownersOf(const CLI::App& app, const std::string& name) {
    std::vector<std::string> owners;
    for (const CLI::App* command : commandsOf(app)) {
        if (optionNamed(*command, name)) owners.push_back(command->get_name());
    }
    std::string text;
    for (size_t i = 0; i < owners.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == owners.size() ? " and " : ", ") + owners[i];
    }
    return text;
}

void printAdvice(const std::string& text) {
    noteError("usage", text);
    std::fprintf(stderr,
                 "ztupdate: %s\nRun 'ztupdate --help' for the commands, 'ztupdate help COMMAND' for a command's "
                 "options.\n",
                 text.c_str());
}

std::string didYouMean(const std::string& nearest) {
    return nearest.empty() ? "" : "; did you mean '" + nearest + "'?";
}

// An option word the app (and the command, once named) does not take, said as such.
bool reportOption(const CLI::App& app, const CLI::App* command, const std::string& name) {
    const std::string owners = ownersOf(app, name);
    if (!command && !owners.empty()) {
        printAdvice(name + " belongs to " + owners + ": put it after the command");
        return true;
    }
    std::vector<std::string> known = longNames(app);
    if (command) {
        const std::vector<std::string> own = longNames(*command);
        known.insert(known.end(), own.begin(), own.end());
    }
    const std::string where = command ? " of " + command->get_name() : "";
    printAdvice("'" + shownText(name) + "' is not an option" + where + didYouMean(nearestName(known, name)));
    return true;
}

size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::string nearestName(const std::vector<std::string>& names, const std::string& typed) {
    constexpr size_t kMostEdits = 2;
    std::string best;
    size_t bestDistance = kMostEdits + 1;
    for (const std::string& name : names) {
        const size_t distance = editDistance(typed, name);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = name;
        }
    }
    return best;
}

std::string nearestCommand(const CLI::App& app, const std::string& typed) {
    std::vector<std::string> names;
    for (const CLI::App* command : commandsOf(app)) names.push_back(command->get_name());
    return nearestName(names, typed);
}

bool reportUsageAdvice(const CLI::App& app, int argc, char** argv) {
    const CLI::App* command = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--") return false;
        if (word.size() > 1 && word[0] == '-') {
            const std::string name = word.substr(0, word.find('='));
            // Grouped short flags (-qv) are the parser's to judge.
            if (name[1] != '-' && name.size() > 2) continue;
            const CLI::Option* option = optionNamed(app, name);
            if (!option && command) option = optionNamed(*command, name);
            if (!option) return reportOption(app, command, name);
            if (option->get_expected_min() > 0 && name == word) ++i;
            continue;
        }
        if (command) continue;
        command = commandNamed(app, word);
        if (!command) {
            printAdvice("'" + shownText(word) + "' is not a command" + didYouMean(nearestCommand(app, word)));
            return true;
        }
    }
    return false;
}

std::string shortUsage(const CLI::App& app) {
    std::string text = "Usage: ztupdate [OPTIONS] COMMAND [COMMAND OPTIONS]\n\nCommands:\n";
    for (const CLI::App* command : commandsOf(app)) {
        char line[256];
        std::snprintf(line, sizeof line, "  %-15s %s\n", command->get_name().c_str(),
                      command->get_description().c_str());
        text += line;
    }
    return text + "\nRun 'ztupdate --help' for the options and examples, 'ztupdate help COMMAND' for a command's.\n";
}
