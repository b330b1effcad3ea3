// The words of `ztupdate --help` and of each command's --help: what it does, examples, and
// what the exit status says.
#pragma once

struct HelpText {
    const char* summary;
    const char* footer;
};

#define ZT_EXIT_STATUSES                                                                            \
    "\nExit status:\n"                                                                              \
    "  0  success\n"                                                                                \
    "  1  the operation failed: a stage failed, the unit's answer was wrong, the PIN was refused\n" \
    "  2  usage error, or a bad input file (nothing was sent)\n"                                    \
    "  3  no response from a unit\n"                                                                \
    "  130, 143, 129  stopped by Ctrl-C, SIGTERM or SIGHUP (128 + the signal's number)\n"           \
    "With several units (--ip and --serial may be repeated) the worst status wins.\n"

inline constexpr HelpText kMainHelp{
    "",
    "\nA typical update of a unit that runs its application:\n"
    "  ztupdate --ip 192.0.2.10 status\n"
    "  ZT_PIN=1234 ztupdate --ip 192.0.2.10 enter-bootload\n"
    "  ztupdate --ip 192.0.2.10 update\n"
    "  ztupdate --ip 192.0.2.10 status\n"
    "\nSeveral units at once, from a script:\n"
    "  ztupdate --ip 192.0.2.10 --ip 192.0.2.11 --serial /dev/ttyUSB0 --json update --yes\n"
    "\nRun 'ztupdate COMMAND --help' for each command's options and examples.\n" ZT_EXIT_STATUSES};

inline constexpr HelpText kInfoHelp{
    "model, build and component versions carried, release notes",
    "\nNeeds no unit. Example:\n  ztupdate info\n  ztupdate --json info\n" ZT_EXIT_STATUSES};

inline constexpr HelpText kInspectHelp{
    "check images and show what an update would send and how long it would take",
    "\nChecks every line of the application image (syntax, byte count, checksum, record type, one\n"
    "end record with nothing after it) and that the flash image is not empty, then prints the\n"
    "records, address ranges, requests, chunks and the estimated time over UDP and at 115200 baud.\n"
    "Without --hex/--flash it inspects the images this build carries. Needs no unit.\n"
    "\nExamples:\n"
    "  ztupdate inspect\n"
    "  ztupdate inspect --hex app.hex --flash web.bin\n"
    "  ztupdate --json inspect --hex app.hex\n" ZT_EXIT_STATUSES};

inline constexpr HelpText kVersionHelp{
    "the program's version and the firmware it carries (as --version)",
    "\nNeeds no unit. Example:\n  ztupdate version\n  ztupdate --version\n" ZT_EXIT_STATUSES};

inline constexpr HelpText kCompletionHelp{
    "print a completion script for bash, zsh or fish, written from the option table",
    "\nExamples:\n"
    "  ztupdate completion bash > ~/.local/share/bash-completion/completions/ztupdate\n"
    "  ztupdate completion fish > ~/.config/fish/completions/ztupdate.fish\n" ZT_EXIT_STATUSES};

inline constexpr HelpText kHelpHelp{"show the help of ztupdate, or of one command (as COMMAND --help)",
                                    "\nExamples:\n  ztupdate help\n  ztupdate help upgrade\n" ZT_EXIT_STATUSES};

inline constexpr HelpText kPortsHelp{
    "list the serial ports that can be opened",
    "\nPorts held by another program are not listed. Example:\n  ztupdate ports\n" ZT_EXIT_STATUSES};

inline constexpr HelpText kDiscoverHelp{
    "find units on the local networks (UDP port 30303) or, with --serial, on the serial ports",
    "\nEach unit is listed once, with whether it is in bootload mode; network units are also marked\n"
    "when they share no subnet with this computer or have a link-local address.\n"
    "\nExamples:\n"
    "  ztupdate discover\n"
    "  ztupdate discover --seconds 10\n"
    "  ztupdate --json discover --serial\n" ZT_EXIT_STATUSES};

inline constexpr HelpText kStatusHelp{
    "show each unit's bootloader version, application version and bootload mode",
    "\nAsks the bootloader and, on the network, the unit's command port (TCP --parser-port) at the\n"
    "same time; the bootloader's answer wins. On a serial port the command port is asked when the\n"
    "bootloader does not answer, at each rate from 4800 to 115200 baud. An answering bootloader\n"
    "means bootload mode; otherwise the bootload flag is shown as the command port reports it,\n"
    "which a unit running its application may still report as enabled.\n"
    "\nExamples:\n"
    "  ztupdate --ip 192.0.2.10 status\n"
    "  ztupdate --serial /dev/ttyUSB0 --json status\n"
    "  ztupdate --ip 192.0.2.10 --parser-port 5000 status\n" ZT_EXIT_STATUSES};

inline constexpr HelpText kEnterBootloadHelp{
    "put each unit into bootload mode with its Installer PIN",
    "\nThe PIN (four digits) is never taken from the command line. It comes from --pin-file FILE\n"
    "(first line), else the ZT_PIN environment variable, else a prompt without echo on a terminal.\n"
    "On success the unit restarts into its bootloader; ztupdate then asks the bootloader until it\n"
    "answers, at most 5 s (the updater window's wait), so that the next command finds it.\n"
    "\nExamples:\n"
    "  ztupdate --ip 192.0.2.10 enter-bootload\n"
    "  ztupdate --ip 192.0.2.10 enter-bootload --pin-file ~/.zt-pin\n"
    "  ZT_PIN=1234 ztupdate --serial COM3 enter-bootload\n" ZT_EXIT_STATUSES
    "A refused PIN gives 1 (check the PIN before trying again: units may lock after wrong PINs); a\n"
    "unit whose command port does not answer gives 3. A PIN typed at the prompt that is not four\n"
    "digits is asked for again, up to three times.\n"};

inline constexpr HelpText kUpdateHelp{
    "update each unit (in bootload mode) with the embedded firmware, or with --hex/--flash files",
    "\nStages, in order: application firmware (unless --no-firmware), web-content flash image (unless\n"
    "--no-ui), factory defaults (only with --factory-defaults). The unit must be in bootload mode\n"
    "(see enter-bootload). Files given with --hex/--flash are checked completely before anything is\n"
    "sent. ztupdate shows the update warning and asks before it starts; --yes skips the question and\n"
    "is required when standard input is not a terminal. Several units are updated in parallel; one\n"
    "unit's failure does not stop the others, and a table of results closes the run.\n"
    "Firmware goes only over an older version: a unit that reports the carried application version\n"
    "(already_current) or a newer one (newer_on_unit) is left as it is, with exit status 0;\n"
    "--allow-reinstall writes the same version again, --allow-older an older one.\n"
    "\nExamples:\n"
    "  ztupdate --ip 192.0.2.10 update\n"
    "  ztupdate --ip 192.0.2.10 update --no-ui --yes\n"
    "  ztupdate --ip 192.0.2.10 update --allow-reinstall --yes\n"
    "  ztupdate --ip 192.0.2.10 --ip 192.0.2.11 update --hex app.hex --flash web.bin --yes\n"
    "  ztupdate --serial /dev/ttyUSB0 --json update --yes\n" ZT_EXIT_STATUSES
    "An answer other than yes at the question gives 1, and nothing is sent.\n"};

inline constexpr HelpText kUpgradeHelp{
    "take each unit from whatever state it is in to running the new firmware",
    "\nFor every unit in parallel (at most --jobs at once): ask its state; when it runs its\n"
    "application, enter bootload mode with the Installer PIN (--pin-file FILE, else ZT_PIN, else one\n"
    "prompt for all units) and wait until its bootloader answers; update it with the selected stages\n"
    "(the options and confirmation of update); read the application version back; leave bootload\n"
    "mode (unless --stay-in-bootload) and wait until its command port answers again. A unit whose\n"
    "application is not older than the carried one is left as it is (already_current, newer_on_unit;\n"
    "one taken out of its application goes back to it) unless --allow-reinstall or --allow-older.\n"
    "Each unit's result is upgraded, already_current, newer_on_unit, or the step that failed with\n"
    "its result: no_response, no_pin, pin_refused, bootloader_silent, failed, wrong_response,\n"
    "version_mismatch, did_not_return, stopped.\n"
    "--retry N tries a failed unit again from its state, after the others had their turn (not after a\n"
    "refused or missing PIN, a stop, or a unit that did not come back). --report FILE keeps the JSON\n"
    "result; --units-from FILE --failed re-runs its failed units.\n"
    "\nExamples:\n"
    "  ZT_PIN=1234 ztupdate --units venue.txt upgrade --yes\n"
    "  ztupdate --units venue.txt --jobs 8 upgrade --pin-file ~/.zt-pin --report venue.json --yes\n"
    "  ztupdate --units-from venue.json --failed upgrade --pin-file ~/.zt-pin --retry 2 --yes\n"
    "  ztupdate --ip 192.0.2.10 --json upgrade --no-ui --fast-resend --yes\n" ZT_EXIT_STATUSES
    "A refused PIN gives 1; a unit that does not answer or does not come back gives 3.\n"
    "An answer other than yes at the question gives 1, and nothing is sent.\n"};

inline constexpr HelpText kExitBootloadHelp{
    "tell each unit's bootloader to leave bootload mode without updating",
    "\nA unit whose bootloader is silent while its command port answers runs its application\n"
    "already: its result is nothing_to_leave, with exit status 0.\n"
    "\nExamples:\n"
    "  ztupdate --ip 192.0.2.10 exit-bootload\n"
    "  ztupdate --ip 192.0.2.10 --ip 192.0.2.11 --json exit-bootload\n" ZT_EXIT_STATUSES};

#undef ZT_EXIT_STATUSES
