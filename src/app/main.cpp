#include "app/cli.h"

int main(int argc, char* argv[]) {
    return cliMain(argc, argv);
}
