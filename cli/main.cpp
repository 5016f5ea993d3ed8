// pak: read PAK archives and WBM images of the KOGADO engine.
#include <CLI/CLI.hpp>

#include <iostream>
#include <vector>

#include "command.h"

int Fail(const std::string& path, const std::string& message, int status) {
  std::cerr << "pak: " << path << ": " << message << "\n";
  return status;
}

int main(int argc, char** argv) {
  CLI::App app{"pak: read PAK archives of the KOGADO engine"};
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 all done; 1 finished with warnings (files skipped, names escaped or refused); 2 a data or "
      "I/O error in at least one entry; 3 the input is not of this format; 64 usage error; 130 interrupted.");

  const std::vector<Command> commands = {
      AddListCommand(app),
      AddExtractCommand(app),
      AddTestCommand(app),
      AddCatCommand(app),
      AddCreateCommand(app),
      AddImageCommand(app),
      AddRepackCommand(app),
      AddIdentifyCommand(app),
  };

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::ParseError& error) {
    app.exit(error);
    return kExitUsage;
  }
  try {
    for (const Command& command : commands) {
      if (command.parser->parsed()) return command.run();
    }
  } catch (const std::invalid_argument& error) {
    // An option value found wrong only when used (e.g. an unknown encoding).
    std::cerr << "pak: " << error.what() << "\n";
    return kExitUsage;
  } catch (const std::exception& error) {
    std::cerr << "pak: " << error.what() << "\n";
    return kExitData;
  }
  return kExitUsage;
}
