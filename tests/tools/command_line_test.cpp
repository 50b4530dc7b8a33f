// Options and operands of a command line.
#include "tools/pak/command_line.h"

#include "archive/failure.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using pak::Failure;
using pak::parseArguments;

namespace {

const std::vector<pak::OptionDefinition> kOptions = {
    {"directory", 'C', true}, {"force", 0, false}, {"output", 'o', true}};

pak::ParsedArguments parse(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "create"); // the command word, skipped
    return parseArguments(arguments, 1, kOptions, "create");
}

// The exit code and message of the Failure that parsing throws, or -1.
int failureOf(std::vector<std::string> arguments, std::string* message = nullptr) {
    try {
        parse(std::move(arguments));
    } catch (const Failure& failure) {
        if (message != nullptr) *message = failure.message;
        return failure.exitCode;
    }
    return -1;
}

} // namespace

TEST(CommandLine, ValuesInEveryForm) {
    for (auto form : std::vector<std::vector<std::string>>{{"-C", "dir", "x"},
                                                           {"-Cdir", "x"},
                                                           {"--directory", "dir", "x"},
                                                           {"--directory=dir", "x"}}) {
        pak::ParsedArguments parsed = parse(form);
        ASSERT_NE(parsed.value("directory"), nullptr) << form[0];
        EXPECT_EQ(*parsed.value("directory"), "dir") << form[0];
        EXPECT_EQ(parsed.operands, std::vector<std::string>{"x"}) << form[0];
    }
    pak::ParsedArguments last = parse({"-o", "a", "-o", "b", "--force", "--raw"});
    EXPECT_EQ(*last.value("output"), "b");
    EXPECT_TRUE(last.has("force"));
    EXPECT_TRUE(last.has("raw")); // every command knows --raw
    EXPECT_FALSE(last.has("directory"));
    EXPECT_TRUE(last.operands.empty());
}

TEST(CommandLine, OptionsComeAnywhereUntilDoubleDash) {
    for (auto form : std::vector<std::vector<std::string>>{{"-o", "out", "--force", "a", "b"},
                                                           {"a", "--output", "out", "b", "--force"},
                                                           {"a", "b", "--force", "-oout"}}) {
        pak::ParsedArguments parsed = parse(form);
        ASSERT_NE(parsed.value("output"), nullptr) << form[0];
        EXPECT_EQ(*parsed.value("output"), "out") << form[0];
        EXPECT_TRUE(parsed.has("force")) << form[0];
        EXPECT_EQ(parsed.operands, (std::vector<std::string>{"a", "b"})) << form[0];
    }

    pak::ParsedArguments parsed = parse({"a", "--", "-dash.txt", "--force"});
    EXPECT_EQ(parsed.operands, (std::vector<std::string>{"a", "-dash.txt", "--force"}));
    EXPECT_FALSE(parsed.has("force"));

    parsed = parse({"-", "x"}); // a lone dash is an operand
    EXPECT_EQ(parsed.operands, (std::vector<std::string>{"-", "x"}));

    parsed = parse({"-o", "--", "x"}); // a value may look like anything
    EXPECT_EQ(*parsed.value("output"), "--");
    EXPECT_EQ(parsed.operands, std::vector<std::string>{"x"});
}

TEST(CommandLine, HelpIsNoticedWherever) {
    EXPECT_TRUE(parse({"--force", "--help"}).helpWanted);
    EXPECT_TRUE(parse({"-h"}).helpWanted);
    EXPECT_FALSE(parse({"--", "--help"}).helpWanted);
}

TEST(CommandLine, MistakesAreUsageErrorsThatNameTheCommand) {
    std::string message;
    EXPECT_EQ(failureOf({"--frobnicate"}, &message), pak::kUsage);
    EXPECT_NE(message.find("create"), std::string::npos);
    EXPECT_NE(message.find("--frobnicate"), std::string::npos);
    EXPECT_EQ(failureOf({"-x"}), pak::kUsage);
    EXPECT_EQ(failureOf({"a", "-x.txt"}), pak::kUsage); // a name with a leading '-' needs "--"
    EXPECT_EQ(failureOf({"--output"}), pak::kUsage);    // value missing
    EXPECT_EQ(failureOf({"-C"}), pak::kUsage);          // value missing
    EXPECT_EQ(failureOf({"--force=yes"}), pak::kUsage); // takes no value
    EXPECT_EQ(failureOf({"-hx"}), pak::kUsage);         // takes no value
    EXPECT_EQ(failureOf({"--force", "--output=o"}), -1);
}
