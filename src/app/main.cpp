// orrin-receiver: the LAN screen-cast receiver.
#include "app/receiver.h"

int main() { return orrin::RunReceiver(); }
