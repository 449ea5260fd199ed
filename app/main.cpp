#include "core/ApplicationShell.h"

int main(int argc, char** argv)
{
    return ApplicationShell::run(argc, argv);
}
