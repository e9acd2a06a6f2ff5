#pragma once
// Every program of ours parses its command line with CLI11 and reports a
// mistake the same way: one sentence that names the option or the word,
// never the parser's own wording, and never an exception past the parse.

#include <functional>
#include <string>
#include <vector>

namespace CLI {
class App;
}  // namespace CLI

namespace voltrix {

// Sets `app` up the way every program of ours parses: CLI11's own --help
// off (each program prints its own text), options given twice keep the last
// value unless they collect every one. Call it before adding options.
void prepareCommandLine(CLI::App& app);

// The sentence for an option given without its value; by default
// "<option> needs a value".
using MissingValueText = std::function<std::string(const std::string& option)>;

// Parses `arguments` (without the program's name) into the options of
// `app`. Returns what is wrong with them, or an empty string. A word that is
// no option is "unknown argument 'WORD'", an option the program does not
// know "unknown option '--NAME'", a flag given a value "--NAME takes no
// value". Options given twice keep the last value unless they collect every
// one.
std::string parseCommandLine(CLI::App& app, const std::vector<std::string>& arguments,
                             const MissingValueText& missingValue = {});

}  // namespace voltrix
