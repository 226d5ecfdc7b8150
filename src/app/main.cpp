#include "app/Application.h"

int main(int argc, char* argv[])
{
    return varlo::runApplication(argc, argv);
}
