// korvant-cli described once: its subcommands and options, each option with its range and the
// subcommands it belongs to. The parser, its range checks, the help (and the manual page made from
// it) and the bash completion are all made from these two tables.
#pragma once

#include "commandline.h"

#include <QString>

#include <span>

// A set of subcommands, one bit per Command.
using Commands = unsigned;
constexpr Commands commandBit(Command c) { return 1u << unsigned(c); }

struct SubcommandSpec {
    const char *name;
    Command command;
    int arguments; // positional arguments after the subcommand
    // Its paragraphs of the help: a usage line and the lines that tell it; a second may follow.
    struct Usage {
        const char *synopsis = nullptr, *lines = nullptr;
    };
    Usage usages[3];
};

struct OptionSpec {
    const char *name;
    const char *value = nullptr; // the value's name; none: a switch
    const char *shortName = nullptr;
    Commands belongs = 0; // the subcommands that take it; 0: all of them
    Commands offered = 0; // the subcommands after which the completion offers it; 0: those it belongs to
    // A whole number low..high; out of range it is refused as: WHAT "TEXT" is not LOW..HIGH UNIT.
    int low = 0, high = -1;
    const char *what = nullptr;
    const char *unit = "";
    int CliOptions::*field = nullptr; // where a plain whole number goes
    const QList<int> &(*choices)() = nullptr; // the only values it takes
    // Its lines of the help's option list, "%1" standing for the range. nullptr: told with its
    // subcommand's usage; "": told on the line of the option before it.
    const char *help = nullptr;
};

std::span<const SubcommandSpec> cliSubcommands();
std::span<const OptionSpec> cliOptions();
const OptionSpec &cliOption(const char *name);

// "low..high" of a whole-number option; "4800, 9600, 19200 or 38400" of one with choices.
QString rangeText(const OptionSpec &option);
// What is said when the option is given to a subcommand it does not belong to: it and the options
// beside it in the table that belong to the same subcommands, "--on and --ma belong to write".
QString belongingProblem(const OptionSpec &option);

// The options the completion offers after the subcommand, "--port --baud ..."; every option
// (Command::None) before one.
QString offeredOptions(Command command);
// The bash completion: the template with its marks filled from the tables (the models' numbers at
// @MODEL_NUMBERS@, ...). Empty when a mark is missing.
QString bashCompletion(const QString &templateText);
