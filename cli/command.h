// One subcommand of the pak tool: its CLI11 parser and what runs when it
// was given. Each Add...Command registers itself on the main parser.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <string>

// Exit statuses of the tool (documented in pak --help).
constexpr int kExitOk = 0;
constexpr int kExitWarnings = 1;
constexpr int kExitData = 2;
constexpr int kExitNotFormat = 3;
constexpr int kExitUsage = 64;
constexpr int kExitInterrupted = 130;

struct Command {
  CLI::App* parser = nullptr;
  std::function<int()> run;
};

// One error line on stderr: "pak: PATH: MESSAGE"; returns status.
int Fail(const std::string& path, const std::string& message, int status);

Command AddListCommand(CLI::App& app);
Command AddExtractCommand(CLI::App& app);
Command AddTestCommand(CLI::App& app);
Command AddCatCommand(CLI::App& app);
Command AddCreateCommand(CLI::App& app);
Command AddImageCommand(CLI::App& app);
Command AddRepackCommand(CLI::App& app);
Command AddIdentifyCommand(CLI::App& app);
