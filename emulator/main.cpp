#include "emulator/EmulatorRunner.h"

int main(int argc, char* argv[])
{
    return EmulatorRunner::run(argc, argv);
}
