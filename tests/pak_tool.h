// Running the pak tool from a test, as a user does: the command line's exit
// status and standard output (stderr dropped). PAK_TOOL names the binary.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

struct PakRun {
  int status;
  std::string out;
};

// Runs pak with arguments (already shell-quoted).
inline PakRun RunPak(const std::string& arguments) {
  const std::string command = std::string(PAK_TOOL) + " " + arguments + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  PakRun run{-1, {}};
  if (pipe == nullptr) return run;
  std::array<char, 4096> buffer;
  std::size_t got;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.out.append(buffer.data(), got);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// The whole file as bytes in a string (empty when missing).
inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
