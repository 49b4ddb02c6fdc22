// Runs a shell command and times it: the wall time of the whole command and
// the arrival time of each piece of its standard output, so that the moment
// a running text says something can be measured from outside.
#pragma once

#include <string>
#include <vector>

namespace ark {

struct OutputPiece {
  double at = 0;  // seconds since the command started
  std::string text;
};

struct TimedRun {
  int exitCode = -1;
  double seconds = 0;
  std::string output;               // standard output and error, in order
  std::vector<OutputPiece> pieces;  // as they arrived
  // Seconds after the start when the output first held text; -1 when never.
  double FirstSeen(const std::string& text) const;
};

// Runs "/bin/sh -c command" and waits for it.
TimedRun RunTimed(const std::string& command);

// Runs a command whose output is not needed; its exit code.
int Shell(const std::string& command);

// The whole standard output of a command, its line end removed.
std::string Capture(const std::string& command);

// A path or word quoted for the shell.
std::string Quote(const std::string& text);

// A figure with two decimals ("1.37").
std::string Num(double value);

// Prints one line of progress at once.
void Say(const std::string& text);

}  // namespace ark
