// Completion scripts and command suggestions from the parser's own table.
#include "cli/completion.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "cli/exit_status.h"

namespace {

struct OptionEntry {
    std::string name;  // "--hex"
    bool takesValue = false;
    std::string valueKind;  // "FILE", "PORT", ...
};

std::vector<OptionEntry> optionsOf(const CLI::App& app) {
    std::vector<OptionEntry> entries;
    for (const CLI::Option* option : app.get_options()) {
        for (const std::string& name : option->get_lnames()) {
            entries.push_back({"--" + name, option->get_expected_min() > 0, option->get_type_name()});
        }
    }
    return entries;
}

std::vector<const CLI::App*> commandsOf(const CLI::App& app) {
    std::vector<const CLI::App*> commands;
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
        commands.push_back(command);
    }
    return commands;
}

std::string joined(const std::vector<std::string>& words, const char* separator = " ") {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : separator) + word;
    return text;
}

// A word as one single-quoted argument of a POSIX shell (bash, zsh): an apostrophe closes the
// quotes, is escaped, and reopens them.
std::string posixQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// fish reads \' and \\ as escapes inside single quotes, and nothing else.
std::string fishQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "'";
}

std::vector<std::string> optionNames(const std::vector<OptionEntry>& entries) {
    std::vector<std::string> names;
    for (const OptionEntry& e : entries) names.push_back(e.name);
    return names;
}

// What a value of each kind completes to, in bash.
std::string bashValueCase(const std::vector<OptionEntry>& all) {
    std::vector<std::string> files, ports, plain;
    for (const OptionEntry& e : all) {
        if (!e.takesValue) continue;
        std::vector<std::string>& list = e.valueKind == "FILE" ? files : e.valueKind == "PORT" ? ports : plain;
        if (std::find(list.begin(), list.end(), e.name) == list.end()) list.push_back(e.name);
    }
    std::string text = "    case $prev in\n";
    if (!files.empty()) text += "        " + joined(files, " | ") + ") _filedir; return ;;\n";
    if (!ports.empty()) {
        text += "        " + joined(ports, " | ") +
                ")\n            COMPREPLY=($(compgen -W \"$(ls /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* "
                "/dev/serial/by-id/* 2>/dev/null)\" -- \"$cur\"))\n            return ;;\n";
    }
    if (!plain.empty()) text += "        " + joined(plain, " | ") + ") return ;;\n";
    return text + "    esac\n";
}

std::string bashScript(const CLI::App& app) {
    const std::vector<OptionEntry> globals = optionsOf(app);
    std::vector<OptionEntry> all = globals;
    std::vector<std::string> commandNames;
    std::string perCommand;
    for (const CLI::App* command : commandsOf(app)) {
        commandNames.push_back(command->get_name());
        const std::vector<OptionEntry> own = optionsOf(*command);
        all.insert(all.end(), own.begin(), own.end());
        perCommand += "        " + command->get_name() + ") options=\"" + joined(optionNames(own)) + " $globals\" ;;\n";
    }
    std::string text = "# bash completion for ztupdate, written by `ztupdate completion bash` from its option table.\n";
    text += "_ztupdate() {\n    local cur prev words cword\n    _init_completion || return\n\n";
    text += bashValueCase(all);
    text += "\n    local commands=\"" + joined(commandNames) + "\"\n";
    text += "    local globals=\"" + joined(optionNames(globals)) + "\"\n";
    text += "    local command=\"\" word\n    for word in \"${words[@]:1:cword-1}\"; do\n";
    text += "        [[ \" $commands \" == *\" $word \"* ]] && command=$word\n    done\n\n";
    text += "    local options\n    case $command in\n        \"\") options=\"$globals $commands\" ;;\n";
    text += perCommand;
    text += "    esac\n    COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n}\ncomplete -F _ztupdate ztupdate\n";
    return text;
}

std::string zshScript(const CLI::App& app) {
    std::string text =
        "#compdef ztupdate\n# zsh completion for ztupdate, written by `ztupdate completion zsh` from its option "
        "table.\n";
    text += "_ztupdate() {\n    local -a commands globals\n    commands=(\n";
    for (const CLI::App* command : commandsOf(app)) {
        text += "        " + posixQuoted(command->get_name() + ":" + command->get_description()) + "\n";
    }
    text += "    )\n    globals=(" + joined(optionNames(optionsOf(app))) + ")\n";
    text += "    local command=${words[(r)(";
    std::vector<std::string> names;
    for (const CLI::App* command : commandsOf(app)) names.push_back(command->get_name());
    text += joined(names, "|") + ")]}\n";
    std::vector<std::string> files, ports;
    std::vector<OptionEntry> all = optionsOf(app);
    for (const CLI::App* command : commandsOf(app)) {
        const std::vector<OptionEntry> own = optionsOf(*command);
        all.insert(all.end(), own.begin(), own.end());
    }
    for (const OptionEntry& e : all) {
        std::vector<std::string>& list = e.valueKind == "FILE" ? files : ports;
        if (e.takesValue && (e.valueKind == "FILE" || e.valueKind == "PORT") &&
            std::find(list.begin(), list.end(), e.name) == list.end()) {
            list.push_back(e.name);
        }
    }
    text += "    case ${words[CURRENT-1]} in\n";
    if (!files.empty()) text += "        " + joined(files, "|") + ") _files; return ;;\n";
    if (!ports.empty()) text += "        " + joined(ports, "|") + ") _files -W /dev -g 'tty(S|USB|ACM)*'; return ;;\n";
    text += "    esac\n    case $command in\n";
    for (const CLI::App* command : commandsOf(app)) {
        text += "        " + command->get_name() + ") compadd -- " + joined(optionNames(optionsOf(*command))) +
                " $globals ;;\n";
    }
    text += "        *) _describe command commands; compadd -- $globals ;;\n    esac\n}\n_ztupdate \"$@\"\n";
    return text;
}

std::string fishScript(const CLI::App& app) {
    std::string text = "# fish completion for ztupdate, written by `ztupdate completion fish` from its option table.\n";
    std::vector<std::string> names;
    for (const CLI::App* command : commandsOf(app)) names.push_back(command->get_name());
    const std::string commandList = joined(names);
    text += "complete -c ztupdate -f\n";
    for (const CLI::App* command : commandsOf(app)) {
        text += "complete -c ztupdate -n 'not __fish_seen_subcommand_from " + commandList + "' -a " +
                command->get_name() + " -d " + fishQuoted(command->get_description()) + "\n";
    }
    auto optionLines = [&](const CLI::App& owner, const std::string& condition) {
        for (const CLI::Option* option : owner.get_options()) {
            for (const std::string& name : option->get_lnames()) {
                text += "complete -c ztupdate" + condition + " -l " + name;
                if (option->get_expected_min() > 0) text += option->get_type_name() == "FILE" ? " -r -F" : " -r";
                text += " -d " + fishQuoted(option->get_description()) + "\n";
            }
        }
    };
    optionLines(app, "");
    for (const CLI::App* command : commandsOf(app)) {
        optionLines(*command, " -n '__fish_seen_subcommand_from " + command->get_name() + "'");
    }
    return text;
}

}  // namespace

std::string completionScript(const CLI::App& app, const std::string& shell) {
    if (shell == "bash") return bashScript(app);
    if (shell == "zsh") return zshScript(app);
    if (shell == "fish") return fishScript(app);
    return {};
}

CliCommand addCompletionCommand(CLI::App& app) {
    auto shell = std::make_shared<std::string>();
    CLI::App* completion = addSubcommand(app, "completion", kCompletionHelp);
    completion->add_option("SHELL", *shell, "bash, zsh or fish")
        ->required()
        ->check(CLI::IsMember({"bash", "zsh", "fish"}));
    return {completion, CommandNeeds::kNothing, [&app, shell](const GlobalOptions&) {
                std::fputs(completionScript(app, *shell).c_str(), stdout);
                return kExitSuccess;
            }};
}
