#include "app/cli.h"

int cliMain(int, char*[]) {
    return 0;
}
