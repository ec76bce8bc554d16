#pragma once

class Signal;

// The program's entry: parses the command line and performs one run. Returns main's status.
int cliMain(int argc, char* argv[]);
