#include "platform/window/host.h"

int main(int argc, char** argv) { return korvel::RunKorvel(argc, argv); }
