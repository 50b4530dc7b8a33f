// The pak program (see pak_tool.h).
#include "tools/pak/pak_tool.h"

#include "archive/failure.h"
#include "archive/ordered_jobs.h"
#include "platform/console.h"
#include "text/error_exceptions.h"
#include "tools/pak/commands.h"
#include "tools/pak/console_text.h"
#include "zk_version.h"

#include <exception>
#include <new>

namespace pak {

namespace {

const Command* const kCommands[] = {&kInfoCommand,   &kListCommand,   &kCatCommand,
                                    &kIniCommand,    &kVerifyCommand, &kExtractCommand,
                                    &kCreateCommand, &kMountCommand};

// Whether the command can run in this build (the Windows build has no mount command).
bool available(const Command* command) {
    return command != &kMountCommand || mountUnavailable() == nullptr;
}

std::string overview() {
    std::string text = "Usage: pak [--raw] COMMAND [OPTION...] [OPERAND...]\n"
                       "\n"
                       "Looks inside the game's pak archives, reads its settings and builds new "
                       "archives.\n"
                       "\n"
                       "Commands:\n";
    for (const Command* command : kCommands)
        if (available(command)) text += std::string("  ") + command->synopsis + "\n";
    if (mountUnavailable() != nullptr) text += std::string("\n") + mountUnavailable() + "\n";
    text += "\n"
            "Options may come before, between or after the operands. -- ends them: every\n"
            "word after it is an operand, so a name that begins with - is given after --\n"
            "(pak cat -- -x.txt). Every command also takes --help, which describes it, and\n"
            "--raw.\n"
            "\n"
            "Options:\n"
            "  --raw        pass entry names, settings values and texts as Shift-JIS bytes\n"
            "               instead of converting them to and from the terminal's encoding\n"
            "  -h, --help   print this help; pak COMMAND --help describes a command\n"
            "  --version    print the version\n"
            "\n"
            "Exit codes: 0 success, 1 not found or no value, 2 usage error, 3 corrupt or\n"
            "unreadable archive (or a file that cannot be read or written), 128 + N\n"
            "interrupted by signal N (130: Ctrl-C).\n";
    return text;
}

int dispatch(Console& console, const std::vector<std::string>& arguments) {
    std::size_t i = 0;
    for (; i < arguments.size() && arguments[i].size() > 1 && arguments[i][0] == '-'; ++i) {
        const std::string& option = arguments[i];
        if (option == "--raw") {
            console.setRaw(true);
        } else if (option == "--help" || option == "-h") {
            console.printAscii(overview());
            return kSuccess;
        } else if (option == "--version") {
            console.printAscii("pak " ZK_VERSION_TEXT "\n");
            return kSuccess;
        } else {
            throw Failure(kUsage, "unknown option " + option + " (see pak --help)");
        }
    }
    if (i == arguments.size()) throw Failure(kUsage, "no command given (see pak --help)");
    const Command* chosen = nullptr;
    for (const Command* command : kCommands)
        if (arguments[i] == command->name) chosen = command;
    if (chosen == nullptr)
        throw Failure(kUsage, "unknown command " + arguments[i] + " (see pak --help)");
    if (!available(chosen)) {
        std::string why = mountUnavailable(); // a sentence; here it follows "pak: "
        why[0] = static_cast<char>(why[0] - 'A' + 'a');
        throw Failure(kUsage, why);
    }

    ParsedArguments parsed = parseArguments(arguments, i + 1, chosen->options, chosen->name);
    if (parsed.helpWanted) {
        console.printAscii(chosen->help);
        return kSuccess;
    }
    if (parsed.has("raw")) console.setRaw(true);
    return chosen->run(console, parsed);
}

} // namespace

void requireOperands(const ParsedArguments& arguments, std::size_t least, std::size_t most,
                     const char* command, const char* what) {
    std::size_t count = arguments.operands.size();
    if (count >= least && count <= most) return;
    std::string problem = count < least ? "missing " : "too many operands; expected ";
    throw Failure(kUsage, std::string(command) + ": " + problem + what + " (see pak " + command +
                              " --help)");
}

const OptionDefinition kJobsOption = {"jobs", 'j', true};

unsigned threadsWanted(const ParsedArguments& arguments, const char* command) {
    const std::string* jobs = arguments.value("jobs");
    if (jobs == nullptr) return defaultThreadCount();
    unsigned n = 0;
    for (char c : *jobs) {
        if (c < '0' || c > '9' || n > 32) {
            n = 0;
            break;
        }
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    if (n < 1 || n > 32)
        throw Failure(kUsage, std::string(command) + ": --jobs takes a number from 1 to 32 (see " +
                                  "pak " + command + " --help)");
    return n;
}

int runPak(const std::vector<std::string>& arguments) {
    Console console;
    int status;
    try {
        status = dispatch(console, arguments);
    } catch (const Failure& failure) {
        console.error(failure.message);
        status = failure.exitCode;
    } catch (const ZKErrorException& error) {
        console.error(error.message.data != nullptr ? error.message.data : "failed");
        status = kCorrupt;
    } catch (const ZKException& error) {
        console.error("failed (system error " + std::to_string(error.code) + ")");
        status = kCorrupt;
    } catch (uint32_t) { // exhausted page memory, as the file system reports it
        console.error("not enough memory");
        status = kCorrupt;
    } catch (const std::bad_alloc&) {
        console.error("not enough memory");
        status = kCorrupt;
    } catch (const std::exception& error) {
        console.error(std::string("unexpected failure: ") + error.what());
        status = kCorrupt;
    }
    if (console.outputFailed()) {
        console.error("standard output: cannot be written");
        if (status == kSuccess) status = kCorrupt;
    }
    return status;
}

int runPakCommandLine(int argc, char** argv) {
    platform::setUpStandardOutput();
    std::vector<std::string> arguments;
    if (!platform::commandLineArguments(argc, argv, arguments)) {
        Console().error("argument " + std::to_string(arguments.size() + 1) +
                        " has characters that Shift-JIS does not have");
        return kUsage;
    }
    return runPak(arguments);
}

} // namespace pak
