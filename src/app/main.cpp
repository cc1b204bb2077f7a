// orrin-receiver: the LAN screen-cast receiver.
#include <string>
#include <vector>

#include "app/receiver.h"

int main(int argc, char** argv) { return orrin::RunReceiver(std::vector<std::string>(argv + 1, argv + argc)); }
