// What the programs that take options share: the loop over their
// arguments, the lines that tell a wrong command line or a failure, and an
// output file that appears whole or not at all.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "midi/midi_file.h"

namespace pitchime::apps {

struct Program {
    const char* name;         // what each of its messages starts with
    const char* usage;        // its usage lines, each ended by a line end
    const char* help;         // what --help prints after the usage and a blank line
    const char* version;      // what --version prints after the name
    bool shortForms = false;  // -h and -V as --help and --version
    // An argument that starts with '-', is no option and names an existing
    // file is an operand: a score named "-tune.txt" still plays.
    bool dashFiles = false;
};

// An option: its name, and whether it takes a value, given as the next
// argument (--name VALUE) or after '=' (--name=VALUE).
struct Option {
    std::string_view name;
    bool takesValue = false;
};

// Prints "NAME: MESSAGE", the usage and where to find help on standard
// error. Returns 2, the exit status of a wrong command line.
int commandLineError(const Program& program, const std::string& message);

// Prints "NAME: MESSAGE" on standard error. Returns 1, the exit status of a
// failure.
int failure(const Program& program, const std::string& message);

// Takes one option of the command line with its value (null for an option
// that takes none). Returns "" to go on, else what is wrong with it.
using OptionHandler = std::function<std::string(std::string_view name, const char* value)>;

// Reads the arguments in order. An argument that does not start with '-',
// a lone "-" (unless the program takes dashFiles), and every argument after
// "--" is an operand, added to `operands`; --help and --version (and -h and
// -V where the program takes them) print on standard output and end the
// reading; each of `options` goes to `handle`. Returns -1 to go on, else the
// exit status: 0 after --help or --version, 2 for a wrong command line,
// told on standard error.
int readArguments(const Program& program, std::span<const Option> options, int argc, char** argv,
                  std::vector<const char*>& operands, const OptionHandler& handle);

// The command line of a player: at most one score, and no options but the
// help and the version. Sets `score` to the first operand (null for none,
// when the player asks for it); the operands after it are ignored, which
// one line on standard error says. Returns as readArguments does.
int readScoreArgument(const Program& program, int argc, char** argv, const char*& score);

// A whole number from `low` to `high`, or false.
bool parseNumber(const char* text, long low, long high, int& value);

// A list such as "1,3-5" of numbers from 1 to `high`, each range in order;
// false when an item is not one.
bool parseNumberList(std::string_view text, int high, std::vector<int>& numbers);

// Reads the file at `path` whole; false, with "PATH: cannot open: why" or
// "PATH: cannot read: why" in `error`, when it cannot (a directory cannot
// be opened).
bool readWholeFile(const char* path, std::vector<std::uint8_t>& bytes, std::string& error);

// Reads the MIDI file at `path`; false, with "PATH: cannot open: why" or
// "PATH: byte N: what" in `error`, when it cannot be read or is no MIDI
// file. A file cut short is read up to where it stops (see cutShort).
bool readMidiFile(const char* path, midi::File& file, std::string& error);

// "PATH: byte N: the file ends inside track T" for a file cut short.
std::string cutShort(const char* path, const midi::File& file);

// Writes `bytes` to a new file beside `path` and renames it to `path`, so
// that `path` is whole or as it was; a file there is replaced, a directory
// never. Returns "" or "cannot write PATH: why".
std::string writeWhole(const char* path, std::string_view bytes);

}  // namespace pitchime::apps
