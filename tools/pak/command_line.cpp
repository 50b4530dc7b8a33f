// Parsing a command's options and operands (see command_line.h).
#include "tools/pak/command_line.h"

#include "archive/failure.h"

#include <cstring>

namespace pak {

namespace {

const OptionDefinition kCommonOptions[] = {{"help", 'h', false}, {"raw", 0, false}};

const OptionDefinition* findLong(const std::vector<OptionDefinition>& options,
                                 const std::string& name) {
    for (const OptionDefinition& option : options)
        if (name == option.longName) return &option;
    for (const OptionDefinition& option : kCommonOptions)
        if (name == option.longName) return &option;
    return nullptr;
}

const OptionDefinition* findShort(const std::vector<OptionDefinition>& options, char name) {
    for (const OptionDefinition& option : options)
        if (option.shortName != 0 && option.shortName == name) return &option;
    for (const OptionDefinition& option : kCommonOptions)
        if (option.shortName != 0 && option.shortName == name) return &option;
    return nullptr;
}

Failure usage(const char* command, const std::string& what) {
    return Failure(kUsage,
                   std::string(command) + ": " + what + " (see pak " + command + " --help)");
}

} // namespace

bool ParsedArguments::has(const char* longName) const {
    return value(longName) != nullptr;
}

const std::string* ParsedArguments::value(const char* longName) const {
    for (auto it = given.rbegin(); it != given.rend(); ++it)
        if (it->name == longName) return &it->value;
    return nullptr;
}

ParsedArguments parseArguments(const std::vector<std::string>& arguments, std::size_t first,
                               const std::vector<OptionDefinition>& options, const char* command) {
    ParsedArguments parsed;
    std::size_t i = first < arguments.size() ? first : arguments.size();
    for (; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--") {
            ++i;
            break;
        }
        if (argument.size() < 2 || argument[0] != '-') { // an operand; options may follow
            parsed.operands.push_back(argument);
            continue;
        }

        const OptionDefinition* option;
        std::string value;
        bool attached = false; // the value came with the option: --dir=DIR or -CDIR
        if (argument[1] == '-') {
            std::string name = argument.substr(2);
            std::size_t equals = name.find('=');
            if (equals != std::string::npos) {
                value = name.substr(equals + 1);
                name.resize(equals);
                attached = true;
            }
            option = findLong(options, name);
            if (option == nullptr) throw usage(command, "unknown option --" + name);
            if (attached && !option->takesValue)
                throw usage(command, "option --" + name + " takes no value");
        } else {
            option = findShort(options, argument[1]);
            if (option == nullptr)
                throw usage(command, std::string("unknown option -") + argument[1]);
            if (argument.size() > 2) {
                if (!option->takesValue)
                    throw usage(command, std::string("option -") + argument[1] + " takes no value");
                value = argument.substr(2);
                attached = true;
            }
        }
        if (option->takesValue && !attached) {
            if (i + 1 >= arguments.size())
                throw usage(command,
                            std::string("option --") + option->longName + " needs a value");
            value = arguments[++i];
        }
        if (std::strcmp(option->longName, "help") == 0) parsed.helpWanted = true;
        parsed.given.push_back({option->longName, value});
    }
    parsed.operands.insert(parsed.operands.end(),
                           arguments.begin() + static_cast<std::ptrdiff_t>(i), arguments.end());
    return parsed;
}

} // namespace pak
